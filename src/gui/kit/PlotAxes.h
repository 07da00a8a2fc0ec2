#pragma once
// What the plots of logs need beyond QCustomPlot's own parts:
// - log-scale ticks an engineer can read: 1-2-5 steps (or every digit over less than a
//   decade and a half, powers of ten over many decades), each labelled with as many
//   digits as tell it apart, down to the smallest value in view; coarser steps on an axis
//   too short for all their labels (a small plot, large text);
// - a legend that can be dragged within its plot and hidden.

#include <QObject>
#include <QPointF>
#include <QString>

#include <qcustomplot.h>

#include <cstddef>
#include <limits>
#include <vector>

namespace pemra {

// The major ticks of a log axis over [lower, upper] (lower > 0), ascending: the finest steps
// the span allows (digits, 1-2-5, powers of ten), coarser ones while there are more than
// `most` (but never fewer than two where the range holds two powers of ten).
std::vector<double> LogTicks(double lower, double upper,
                             size_t most = std::numeric_limits<size_t>::max());
// A tick's label: plain digits from 0.0001 to 99999 ("0.05", "300", "5000"), else in
// exponent form ("2e-05", "1e+06").
QString LogTickLabel(double value);

class LogAxisTicker : public QCPAxisTickerLog {
 public:
  // `axis`: the axis it ticks, whose length and label font bound the number of labels.
  explicit LogAxisTicker(const QCPAxis* axis = nullptr) : axis_(axis) {}

 protected:
  QVector<double> createTickVector(double tickStep, const QCPRange& range) override;
  QVector<double> createSubTickVector(int subTickCount, const QVector<double>& ticks) override;
  QString getTickLabel(double tick, const QLocale& locale, QChar formatChar, int precision) override;

 private:
  const QCPAxis* axis_;
};

// Puts a log axis ticker on `axis`.
void UseLogTicks(QCPAxis& axis);

// Lets the user drag `legend` (in its axis rect's inset layout) to any place in the rect;
// while a drag lasts the plot does not pan. The legend stays where it was left.
class MovableLegend : public QObject {
  Q_OBJECT

 public:
  MovableLegend(QCustomPlot& plot, QCPLegend& legend);
  // Back to the corner it started in.
  void Reset(Qt::Alignment corner);

 private:
  void Press(QMouseEvent* event);
  void Move(QMouseEvent* event);
  void Release();

  QCustomPlot& plot_;
  QCPLegend& legend_;
  bool dragging_ = false;
  QPointF grab_;  // where in the legend it was taken, as a fraction of the rect
  QCP::Interactions interactions_;
};

}  // namespace pemra
