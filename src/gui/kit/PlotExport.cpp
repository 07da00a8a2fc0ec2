#include "gui/kit/PlotExport.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>
#include <QSvgGenerator>
#include <QTimer>

#include <qcustomplot.h>

#include <algorithm>

namespace pemra {

namespace {

QString InDataDir(const std::filesystem::path& dataDir, const QString& name) {
  return QDir(QString::fromStdString(dataDir.string())).filePath(name);
}

// The reason a file could not be written, from Qt's words or the file's state.
QString WriteProblem(const QString& fileName, const QString& reason) {
  return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), reason);
}

}  // namespace

QString PlotFormat(const QString& fileName) {
  const QString suffix = QFileInfo(fileName).suffix().toLower();
  if (suffix == QLatin1String("png") || suffix == QLatin1String("svg") ||
      suffix == QLatin1String("pdf"))
    return suffix;
  return {};
}

std::optional<QString> SavePlot(QCustomPlot& plot, const QString& fileName, int width, int height) {
  const QString format = PlotFormat(fileName);
  if (format.isEmpty())
    return WriteProblem(fileName, QStringLiteral("the name must end in .png, .svg or .pdf"));
  const QFileInfo info(fileName);
  if (!info.absoluteDir().exists())
    return WriteProblem(fileName, QStringLiteral("the folder does not exist"));
  if (info.isDir()) return WriteProblem(fileName, QStringLiteral("is a folder"));
  if (width <= 0) width = plot.width();
  if (height <= 0) height = plot.height();
  bool ok = false;
  if (format == QLatin1String("png")) {
    ok = plot.savePng(fileName, width, height);
  } else if (format == QLatin1String("pdf")) {
    ok = plot.savePdf(fileName, width, height);
  } else {
    QSvgGenerator generator;
    generator.setFileName(fileName);
    generator.setSize(QSize(width, height));
    generator.setViewBox(QRect(0, 0, width, height));
    generator.setTitle(plot.windowTitle());
    QCPPainter painter;
    if (painter.begin(&generator)) {
      plot.toPainter(&painter, width, height);
      ok = painter.end();
    }
    // The generator reports no write error of its own: the file must be there and filled.
    ok = ok && QFileInfo(fileName).size() > 0;
  }
  if (!ok) return WriteProblem(fileName, QStringLiteral("could not be written"));
  return std::nullopt;
}

std::optional<QString> SaveText(
    const QString& fileName,
    const std::function<bool(const std::function<bool(const std::string&)>&)>& write) {
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly)) return WriteProblem(fileName, file.errorString());
  const auto append = [&file](const std::string& text) {
    return file.write(text.data(), static_cast<qint64>(text.size())) ==
           static_cast<qint64>(text.size());
  };
  if (!write(append)) {
    const QString reason = file.errorString();
    file.cancelWriting();
    return WriteProblem(fileName, reason.isEmpty() ? QStringLiteral("could not be written") : reason);
  }
  if (!file.commit()) return WriteProblem(fileName, file.errorString());
  return std::nullopt;
}

namespace {

// The dialog made no larger than the screen's free area and put on it: Qt's own size for a
// file dialog at 200% on a small screen would put "Files of type" and Cancel off the screen.
void FitFileDialog(QFileDialog& dialog) {
  const QScreen* screen = dialog.screen();
  if (screen == nullptr) return;
  const QRect free = screen->availableGeometry();
  const int frame = dialog.style()->pixelMetric(QStyle::PM_TitleBarHeight) + 8;
  const QSize room = free.size() - QSize(8, frame);
  dialog.setMinimumSize(dialog.minimumSize().boundedTo(room));
  dialog.resize(dialog.size().boundedTo(room));
  const QRect shown = dialog.frameGeometry();
  if (!free.contains(shown))
    dialog.move(std::clamp(shown.left(), free.left(), std::max(free.left(), free.right() - shown.width() + 1)),
                std::clamp(shown.top(), free.top(), std::max(free.top(), free.bottom() - shown.height() + 1)));
}

QStringList RunFileDialog(QWidget* parent, const QString& caption, const QString& start,
                          const QString& filter, bool save) {
  QFileDialog dialog(parent, caption, start, filter);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFiles);
  FitFileDialog(dialog);
  // Once shown (and sized from what the dialog remembers), fitted again.
  QTimer::singleShot(0, &dialog, [&dialog] { FitFileDialog(dialog); });
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

}  // namespace

QStringList AskForLogFiles(QWidget* parent, const std::filesystem::path& dataDir) {
  return RunFileDialog(parent, QStringLiteral("Open Log"), QString::fromStdString(dataDir.string()),
                       QStringLiteral("Data logs (*.csv *.txt);;All files (*)"), false);
}

QString AskForPlotFile(QWidget* parent, const std::filesystem::path& dataDir, const QString& name) {
  return AskForSaveFile(parent, dataDir, QStringLiteral("Export Plot"), name,
                        QStringLiteral("PNG image (*.png);;SVG drawing (*.svg);;PDF document (*.pdf)"));
}

QString AskForSaveFile(QWidget* parent, const std::filesystem::path& dataDir,
                       const QString& caption, const QString& name, const QString& filter) {
  const QStringList chosen = RunFileDialog(parent, caption, InDataDir(dataDir, name), filter, true);
  return chosen.isEmpty() ? QString() : chosen.front();
}

}  // namespace pemra
