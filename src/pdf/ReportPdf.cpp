#include "pdf/ReportPdf.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgRenderer>
#include <QTextDocument>
#include <QUrl>

#include <cstdio>

namespace pemra {

namespace {

constexpr int kPlotScale = 3;  // pixels per page pixel of a plot's bitmap
constexpr int kResolution = 150;  // dots per inch the page is laid out at
constexpr double kMarginMm = 15;
// The page's text area in the document's own pixels (96 to the inch), so the page holds
// what a screen shows at its width: A4 less the margins.
constexpr double kPixelsPerMm = 96 / 25.4;
constexpr double kTextWidth = (210 - 2 * kMarginMm) * kPixelsPerMm;
constexpr double kTextHeight = (297 - 2 * kMarginMm) * kPixelsPerMm;

// Qt's notes about the environment (no runtime directory, font substitutes) mean nothing to
// a user of the command line; real failures still show.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(text));
}

// Fonts and the PDF writer need a Qt application. A program without one (pemra-cli) gets
// one on the offscreen platform, made once and kept for the rest of the process.
void EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietMessages);
  static int argc = 1;
  static char name[] = "pemra";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* application = new QGuiApplication(argc, argv);
  (void)application;
}

}  // namespace

std::optional<std::string> RenderReportPdf(const std::string& html, const std::vector<std::string>& images,
                                           std::string& pdf) {
  EnsureApplication();
  QTextDocument document;
  for (size_t k = 0; k < images.size(); ++k) {
    QSvgRenderer svg(QByteArray::fromStdString(images[k]));
    if (!svg.isValid()) return "plot " + std::to_string(k) + " is not a drawable SVG";
    const QSize size = svg.defaultSize();
    QImage image(size * kPlotScale, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    svg.render(&painter);
    painter.end();
    document.addResource(QTextDocument::ImageResource, QUrl(QString::fromStdString("plot-" + std::to_string(k))),
                         image);
  }
  document.setHtml(QString::fromStdString(html));
  document.setPageSize(QSizeF(kTextWidth, kTextHeight));

  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly)) return "no memory for the document";
  {
    QPdfWriter writer(&buffer);
    writer.setResolution(kResolution);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                                     QPageLayout::Millimeter));
    writer.setTitle(QStringLiteral("Sensor evaluation report"));
    writer.setCreator(QStringLiteral("pemra"));
    document.print(&writer);
  }
  buffer.close();
  if (bytes.isEmpty()) return "the PDF writer drew nothing";
  pdf.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
  return std::nullopt;
}

}  // namespace pemra
