#include "gui/kit/PlotExport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>
#include <QSvgGenerator>
#include <QTimer>

#include <qcustomplot.h>

#include <algorithm>
#include <memory>

#include "analysis/OutputFile.h"
#include "core/ShownText.h"

namespace pemra {

namespace {

QString InDataDir(const std::filesystem::path& dataDir, const QString& name) {
  return QDir(QString::fromStdString(dataDir.string())).filePath(name);
}

// The reason a file could not be written, from Qt's words or the file's state.
QString WriteProblem(const QString& fileName, const QString& reason) {
  return QStringLiteral("%1: %2").arg(
      QString::fromStdString(ShownText(QFile::encodeName(fileName).toStdString())), reason);
}

}  // namespace

QString PlotFormat(const QString& fileName) {
  const QString suffix = QFileInfo(fileName).suffix().toLower();
  if (suffix == QLatin1String("png") || suffix == QLatin1String("svg") ||
      suffix == QLatin1String("pdf"))
    return suffix;
  return {};
}

namespace {

std::filesystem::path LocalPath(const QString& fileName) {
  return std::filesystem::path(QFile::encodeName(fileName).toStdString());
}

// The plot drawn at `width` x `height` in `format`, in memory; empty when it could not be.
QByteArray DrawPlot(QCustomPlot& plot, const QString& format, int width, int height) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  bool ok = false;
  if (format == QLatin1String("png")) {
    ok = plot.toPixmap(width, height).save(&buffer, "PNG");
  } else {
    QCPPainter painter;
    std::unique_ptr<QPaintDevice> device;
    if (format == QLatin1String("pdf")) {
      auto writer = std::make_unique<QPdfWriter>(&buffer);
      writer->setCreator(QStringLiteral("pemra-eval"));
      writer->setTitle(plot.windowTitle());
      writer->setPageLayout(QPageLayout(QPageSize(QSize(width, height), QPageSize::Point,
                                                  QString(), QPageSize::ExactMatch),
                                        QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
      device = std::move(writer);
    } else {
      auto generator = std::make_unique<QSvgGenerator>();
      generator->setOutputDevice(&buffer);
      generator->setSize(QSize(width, height));
      generator->setViewBox(QRect(0, 0, width, height));
      generator->setTitle(plot.windowTitle());
      device = std::move(generator);
    }
    if (painter.begin(device.get())) {
      painter.setMode(QCPPainter::pmVectorized);
      painter.setMode(QCPPainter::pmNoCaching);
      painter.setWindow(QRect(0, 0, width, height));
      plot.toPainter(&painter, width, height);
      ok = painter.end();
    }
    device.reset();  // a PDF is complete only when its writer is gone
  }
  return ok ? bytes : QByteArray();
}

}  // namespace

std::optional<QString> SavePlot(QCustomPlot& plot, const QString& fileName, int width, int height) {
  const QString format = PlotFormat(fileName);
  if (format.isEmpty())
    return WriteProblem(fileName, QStringLiteral("the name must end in .png, .svg or .pdf"));
  if (width <= 0) width = plot.width();
  if (height <= 0) height = plot.height();
  // Drawn whole in memory first, then written by the output rule: a full disk or a failed
  // write leaves the old file, never a fragment.
  const QByteArray bytes = DrawPlot(plot, format, width, height);
  if (bytes.isEmpty()) return WriteProblem(fileName, QStringLiteral("the plot could not be drawn"));
  std::string error;
  if (!WriteOutputFile(LocalPath(fileName), std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                       {}, error))
    return QString::fromStdString(ShownText(error, kShownMessage));
  return std::nullopt;
}

std::optional<QString> SaveText(
    const QString& fileName,
    const std::function<bool(const std::function<bool(const std::string&)>&)>& write) {
  OutputFile file;
  const auto problem = [&file] { return QString::fromStdString(ShownText(file.Error(), kShownMessage)); };
  if (!file.Begin(LocalPath(fileName))) return problem();
  const auto append = [&file](const std::string& text) { return file.Write(text); };
  if (!write(append)) {
    if (!file.Error().empty()) return problem();
    return WriteProblem(fileName, QStringLiteral("could not be written"));
  }
  if (!file.Commit()) return problem();
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
