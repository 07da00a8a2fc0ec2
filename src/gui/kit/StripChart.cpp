#include "gui/kit/StripChart.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace pemra {

namespace {

constexpr int kRefreshMs = 15;  // about one screen frame

// Clips the segment p0-p1 to the rectangle [x0, x1] x [y0, y1] (Liang-Barsky). False when
// nothing of it is inside. Done here in double precision so values far outside the range
// never reach the painter as huge integer coordinates.
bool ClipSegment(QPointF& p0, QPointF& p1, double x0, double y0, double x1, double y1) {
  const double dx = p1.x() - p0.x();
  const double dy = p1.y() - p0.y();
  double t0 = 0.0;
  double t1 = 1.0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {p0.x() - x0, x1 - p0.x(), p0.y() - y0, y1 - p0.y()};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0) {
      if (q[i] < 0.0) return false;
      continue;
    }
    const double r = q[i] / p[i];
    if (p[i] < 0.0) {
      if (r > t1) return false;
      t0 = std::max(t0, r);
    } else {
      if (r < t0) return false;
      t1 = std::min(t1, r);
    }
  }
  const QPointF start = p0;
  p0 = QPointF(start.x() + t0 * dx, start.y() + t0 * dy);
  p1 = QPointF(start.x() + t1 * dx, start.y() + t1 * dy);
  return true;
}

}  // namespace

StripChart::StripChart(QWidget* parent) : QWidget(parent) {
  colours_.fill(Qt::black);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  surface_ = QImage(sizeHint(), QImage::Format_RGB32);
  surface_.fill(kBackground);
  refreshTimer_.setSingleShot(true);
  refreshTimer_.setInterval(kRefreshMs);
  connect(&refreshTimer_, &QTimer::timeout, this, &StripChart::Refresh);
}

QSize StripChart::sizeHint() const { return {kColumns * 2, 200}; }
QSize StripChart::minimumSizeHint() const { return {kColumns, 100}; }

void StripChart::SetTraceColour(int channel, const QColor& colour) {
  if (channel >= 0 && channel < kChannels) colours_[channel] = colour;
}

int StripChart::LineWidth() const {
  return std::max(1, static_cast<int>(std::lround(devicePixelRatioF())));
}

QPointF StripChart::SurfacePoint(double x, double y) const {
  const double width = surface_.width();
  const double height = surface_.height();
  return {x * width / kColumns, (top_ - y) * height / (top_ - bottom_)};
}

QPointF StripChart::ChartPoint(QPointF widgetPosition) const {
  const double w = std::max(1, width());
  const double h = std::max(1, height());
  return {widgetPosition.x() * kColumns / w, top_ - widgetPosition.y() * (top_ - bottom_) / h};
}

void StripChart::PlotSample(const std::array<double, kChannels>& values,
                            const std::array<bool, kChannels>& drawn, double& top,
                            double& bottom) {
  if (top == bottom) bottom = -1.0;
  top_ = top;
  bottom_ = bottom;
  hasCoordinates_ = true;

  column_ += 1;
  if (column_ > kColumns) {
    column_ = 0;
    previousColumn_ = 0;
  }

  const int w = surface_.width();
  const int h = surface_.height();
  const int lineWidth = LineWidth();
  const auto pixelX = [&](double x) { return static_cast<int>(std::lround(x * w / kColumns)); };
  const int bandLeft = pixelX(column_);
  const int bandRight = pixelX(column_ + 1);

  QPainter painter(&surface_);
  painter.fillRect(QRect(bandLeft, 0, bandRight - bandLeft + lineWidth, h), kBackground);
  painter.fillRect(QRect(bandRight, 0, lineWidth, h), kCursor);

  // Off-surface margin for clipping: wide enough that the pen never shows a clipped end.
  const double margin = 2.0 * lineWidth;
  const double yScale = h / (top_ - bottom_);
  for (int k = 0; k < kChannels; ++k) {
    if (!drawn[k]) continue;
    QPointF from(static_cast<double>(pixelX(previousColumn_)), (top_ - previous_[k]) * yScale);
    QPointF to(static_cast<double>(bandLeft), (top_ - values[k]) * yScale);
    if (!std::isfinite(from.y()) || !std::isfinite(to.y())) continue;
    if (!ClipSegment(from, to, -margin, -margin, w + margin, h + margin)) continue;
    painter.setPen(QPen(colours_[k], lineWidth, Qt::SolidLine, Qt::SquareCap));
    painter.drawLine(from, to);
  }
  painter.end();

  for (int k = 0; k < kChannels; ++k) previous_[k] = values[k];
  const int dirtyLeft = pixelX(previousColumn_) - 2 * lineWidth;
  previousColumn_ = column_;
  MarkDirty(QRect(dirtyLeft, 0, bandRight + 3 * lineWidth - dirtyLeft, h));
}

void StripChart::MarkDirty(const QRect& surfaceRect) {
  dirty_ = dirty_.united(surfaceRect);
  if (!refreshTimer_.isActive()) refreshTimer_.start();
}

void StripChart::Refresh() {
  if (dirty_.isEmpty()) return;
  const double sx = static_cast<double>(width()) / std::max(1, surface_.width());
  const double sy = static_cast<double>(height()) / std::max(1, surface_.height());
  const QRect area(static_cast<int>(std::floor(dirty_.left() * sx)) - 1, 0,
                   static_cast<int>(std::ceil(dirty_.width() * sx)) + 3,
                   static_cast<int>(std::ceil(dirty_.height() * sy)) + 1);
  dirty_ = QRect();
  update(area);
}

void StripChart::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect target = rect();
  const QRectF source(0, 0, surface_.width(), surface_.height());
  painter.setClipRegion(event->region());
  painter.drawImage(QRectF(target), surface_, source);
}

void StripChart::resizeEvent(QResizeEvent* event) {
  const double ratio = devicePixelRatioF();
  const QSize pixels(std::max(1, static_cast<int>(std::lround(event->size().width() * ratio))),
                     std::max(1, static_cast<int>(std::lround(event->size().height() * ratio))));
  if (pixels == surface_.size()) return;
  // Keep the trace: the old surface is stretched onto the new one; later samples are drawn
  // at the new resolution and replace it column by column.
  QImage resized(pixels, QImage::Format_RGB32);
  resized.fill(kBackground);
  QPainter painter(&resized);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(QRect(QPoint(0, 0), pixels), surface_);
  painter.end();
  surface_ = std::move(resized);
  dirty_ = QRect();
  update();
}

void StripChart::mouseMoveEvent(QMouseEvent* event) {
  if (!hasCoordinates_) return;
  const QPointF p = ChartPoint(event->position());
  emit PointerMoved(p.x(), p.y());
}

}  // namespace pemra
