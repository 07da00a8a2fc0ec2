#include "gui/kit/PlotAxes.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>
#include <limits>

namespace pemra {

namespace {

// The steps within a decade from the finest to the coarsest: every digit, 1-2-5, then powers
// of ten, every one, every second, every third, ...
const std::vector<double> kDigits{1, 2, 3, 4, 5, 6, 7, 8, 9}, kOneTwoFive{1, 2, 5}, kPowers{1};

std::vector<double> TicksAt(double lower, double upper, const std::vector<double>& steps, int every) {
  std::vector<double> ticks;
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

}  // namespace

std::vector<double> LogTicks(double lower, double upper, size_t most) {
  if (!(lower > 0) || !(upper > lower) || !std::isfinite(upper)) return {};
  const double decades = std::log10(upper / lower);
  // The finest steps the span allows: digits within a decade and a half, 1-2-5 within four
  // and a half, else powers of ten, every second or third over many decades.
  std::vector<double> ticks = decades <= 1.5   ? TicksAt(lower, upper, kDigits, 1)
                              : decades <= 4.5 ? TicksAt(lower, upper, kOneTwoFive, 1)
                                               : TicksAt(lower, upper, kPowers, decades > 12 ? 3 : decades > 8 ? 2 : 1);
  // A short axis (a small plot, large text) takes coarser steps until its labels fit; at
  // least two ticks stay where the range holds them.
  if (ticks.size() > most && decades <= 1.5) {
    std::vector<double> coarser = TicksAt(lower, upper, kOneTwoFive, 1);
    if (coarser.size() >= 2) ticks = std::move(coarser);
  }
  for (int every = 1; ticks.size() > std::max<size_t>(most, 2) && every <= 64; ++every) {
    std::vector<double> coarser = TicksAt(lower, upper, kPowers, every);
    if (coarser.size() < 2) break;
    ticks = std::move(coarser);
  }
  return ticks;
}

QString LogTickLabel(double value) {
  // Plain digits from 0.0001 to 99999 ("0.002", "5000"), powers of ten beyond ("1e-05").
  const double size = std::fabs(value);
  return QString::number(value, 'g', size >= 1e-4 && size < 1e5 ? 6 : 3);
}

QVector<double> LogAxisTicker::createTickVector(double, const QCPRange& range) {
  // As many labels as the axis has room for: a label's height and half of it again apart on
  // a vertical axis, its widest text and two characters apart on a horizontal one.
  size_t most = std::numeric_limits<size_t>::max();
  if (axis_ != nullptr && axis_->axisRect() != nullptr) {
    const QFontMetrics metrics(axis_->tickLabelFont());
    const bool vertical = axis_->orientation() == Qt::Vertical;
    const int length = vertical ? axis_->axisRect()->height() : axis_->axisRect()->width();
    const int room = vertical ? metrics.height() * 3 / 2 : metrics.horizontalAdvance(QStringLiteral("0.0005  "));
    if (length > 0 && room > 0) most = static_cast<size_t>(std::max(2, length / room));
  }
  const std::vector<double> ticks = LogTicks(range.lower, range.upper, most);
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
  axis.setTicker(QSharedPointer<QCPAxisTicker>(new LogAxisTicker(&axis)));
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
