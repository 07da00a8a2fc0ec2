#include "gui/kit/PlotAxes.h"

#include <algorithm>
#include <cmath>

namespace pemra {

namespace {

// Decades a range spans, and the steps within a decade for it.
std::vector<double> Mantissas(double decades) {
  if (decades <= 1.5) return {1, 2, 3, 4, 5, 6, 7, 8, 9};
  if (decades <= 4.5) return {1, 2, 5};
  return {1};
}

}  // namespace

std::vector<double> LogTicks(double lower, double upper) {
  std::vector<double> ticks;
  if (!(lower > 0) || !(upper > lower) || !std::isfinite(upper)) return ticks;
  const double decades = std::log10(upper / lower);
  const std::vector<double> steps = Mantissas(decades);
  // Over many decades, every second or third power of ten keeps the labels apart.
  const int every = decades > 12 ? 3 : decades > 8 ? 2 : 1;
  const int first = static_cast<int>(std::floor(std::log10(lower)));
  const int last = static_cast<int>(std::ceil(std::log10(upper)));
  for (int e = first; e <= last; ++e) {
    if (steps.size() == 1 && (e % every) != 0) continue;
    for (double m : steps) {
      // From the text of the number, so 3 x 10^-2 is exactly the double 0.03 is read as.
      const double value = std::stod(std::to_string(static_cast<int>(m)) + "e" + std::to_string(e));
      if (value >= lower * (1 - 1e-12) && value <= upper * (1 + 1e-12)) ticks.push_back(value);
    }
  }
  return ticks;
}

QString LogTickLabel(double value) {
  // Plain digits from 0.0001 to 99999 ("0.002", "5000"), powers of ten beyond ("1e-05").
  const double size = std::fabs(value);
  return QString::number(value, 'g', size >= 1e-4 && size < 1e5 ? 6 : 3);
}

QVector<double> LogAxisTicker::createTickVector(double, const QCPRange& range) {
  const std::vector<double> ticks = LogTicks(range.lower, range.upper);
  return QVector<double>(ticks.begin(), ticks.end());
}

QVector<double> LogAxisTicker::createSubTickVector(int, const QVector<double>& ticks) {
  // Between powers of ten, the other digits; between 1-2-5 or digit steps, none.
  QVector<double> sub;
  if (ticks.size() < 2) return sub;
  const double ratio = ticks[1] / ticks[0];
  if (ratio < 9.5) return sub;
  for (qsizetype i = 0; i + 1 < ticks.size(); ++i)
    for (double m = 2; m <= 9; ++m)
      if (ticks[i] * m < ticks[i + 1]) sub << ticks[i] * m;
  return sub;
}

QString LogAxisTicker::getTickLabel(double tick, const QLocale&, QChar, int) { return LogTickLabel(tick); }

void UseLogTicks(QCPAxis& axis) {
  axis.setScaleType(QCPAxis::stLogarithmic);
  axis.setTicker(QSharedPointer<QCPAxisTicker>(new LogAxisTicker));
}

MovableLegend::MovableLegend(QCustomPlot& plot, QCPLegend& legend)
    : QObject(&legend), plot_(plot), legend_(legend) {
  connect(&plot_, &QCustomPlot::mousePress, this, &MovableLegend::Press);
  connect(&plot_, &QCustomPlot::mouseMove, this, &MovableLegend::Move);
  connect(&plot_, &QCustomPlot::mouseRelease, this, &MovableLegend::Release);
}

void MovableLegend::Reset(Qt::Alignment corner) {
  auto* inset = qobject_cast<QCPLayoutInset*>(legend_.layout());
  if (inset == nullptr) return;
  const int index = inset->elements(false).indexOf(&legend_);
  if (index < 0) return;
  inset->setInsetPlacement(index, QCPLayoutInset::ipBorderAligned);
  inset->setInsetAlignment(index, corner);
}

void MovableLegend::Press(QMouseEvent* event) {
  if (!legend_.visible() || event->button() != Qt::LeftButton) return;
  const QPointF pos = event->position();
  if (!legend_.outerRect().contains(pos.toPoint())) return;
  auto* inset = qobject_cast<QCPLayoutInset*>(legend_.layout());
  if (inset == nullptr) return;
  const QRect area = inset->rect();
  if (area.width() <= 0 || area.height() <= 0) return;
  const QRect box = legend_.outerRect();
  grab_ = QPointF((pos.x() - box.left()) / area.width(), (pos.y() - box.top()) / area.height());
  const int index = inset->elements(false).indexOf(&legend_);
  inset->setInsetPlacement(index, QCPLayoutInset::ipFree);
  inset->setInsetRect(index, QRectF(static_cast<double>(box.left() - area.left()) / area.width(),
                                    static_cast<double>(box.top() - area.top()) / area.height(),
                                    static_cast<double>(box.width()) / area.width(),
                                    static_cast<double>(box.height()) / area.height()));
  dragging_ = true;
  interactions_ = plot_.interactions();
  plot_.setInteractions(QCP::Interactions());
}

void MovableLegend::Move(QMouseEvent* event) {
  if (!dragging_) return;
  auto* inset = qobject_cast<QCPLayoutInset*>(legend_.layout());
  if (inset == nullptr) return;
  const QRect area = inset->rect();
  const int index = inset->elements(false).indexOf(&legend_);
  QRectF r = inset->insetRect(index);
  const double x = (event->position().x() - area.left()) / area.width() - grab_.x();
  const double y = (event->position().y() - area.top()) / area.height() - grab_.y();
  // Kept whole inside the rect.
  r.moveTo(std::clamp(x, 0.0, std::max(0.0, 1 - r.width())), std::clamp(y, 0.0, std::max(0.0, 1 - r.height())));
  inset->setInsetRect(index, r);
  plot_.replot(QCustomPlot::rpQueuedReplot);
}

void MovableLegend::Release() {
  if (!dragging_) return;
  dragging_ = false;
  plot_.setInteractions(interactions_);
}

}  // namespace pemra
