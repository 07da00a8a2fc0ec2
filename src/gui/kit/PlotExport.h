#pragma once
// What the log viewer, the noise window and the headless plot share for files: the plot
// saved as PNG, SVG or PDF (chosen by the file's suffix), text files replaced atomically,
// and the file dialogs, which start in the data directory.

#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

class QCustomPlot;
class QWidget;

namespace pemra {

// "png", "svg" or "pdf" for a file name with that suffix (any case), else empty.
QString PlotFormat(const QString& fileName);

// Saves the plot as drawn at `width` x `height` pixels (0: its current size). An error text
// naming the file and the reason, or nothing on success.
std::optional<QString> SavePlot(QCustomPlot& plot, const QString& fileName, int width = 0,
                                int height = 0);

// Writes a file through `write`, which gets a function that appends text and returns false
// once a write has failed; the file replaces the old one only when everything was written.
std::optional<QString> SaveText(const QString& fileName,
                                const std::function<bool(const std::function<bool(const std::string&)>&)>& write);

// The file dialogs. Empty when the user cancels.
QStringList AskForLogFiles(QWidget* parent, const std::filesystem::path& dataDir);
QString AskForPlotFile(QWidget* parent, const std::filesystem::path& dataDir, const QString& name);
QString AskForSaveFile(QWidget* parent, const std::filesystem::path& dataDir,
                       const QString& caption, const QString& name, const QString& filter);

}  // namespace pemra
