#include "gui/kit/LogPlots.h"

#include <QFontMetrics>
#include <QVector>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <span>

#include "gui/kit/PlotAxes.h"

#include "core/ShownText.h"

namespace pemra {

namespace {

// Points per pixel of the view's width that a column is drawn with (a minimum and a
// maximum per bucket).
constexpr int kMinimumBuckets = 400;

// Text from a file or a name, made safe to show (control bytes escaped, length cut).
QString Text(const std::string& text) {
  return QString::fromStdString(ShownText(text, kShownMessage));
}

void StyleLegend(QCustomPlot& plot, QCPLegend& legend) {
  QFont small = plot.font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  legend.setFont(small);
  legend.setIconSize(24, 12);
  legend.setBrush(QColor(255, 255, 255, 220));
}

void StylePlot(QCustomPlot& plot, Qt::Alignment corner) {
  plot.legend->setVisible(true);
  StyleLegend(plot, *plot.legend);
  // A legend the user has moved stays where it was put.
  if (plot.axisRect()->insetLayout()->insetPlacement(0) == QCPLayoutInset::ipBorderAligned)
    plot.axisRect()->insetLayout()->setInsetAlignment(0, corner);
}

}  // namespace

QColor PlotColour(size_t index) {
  static const QColor kColours[] = {
      QColor(214, 39, 40),  QColor(44, 160, 44),  QColor(31, 119, 180), QColor(255, 127, 14),
      QColor(148, 103, 189), QColor(140, 86, 75), QColor(227, 119, 194), QColor(127, 127, 127),
      QColor(188, 189, 34), QColor(23, 190, 207), QColor(0, 0, 0),
  };
  return kColours[index % std::size(kColours)];
}

std::string DataUnit(const LoadedLog& log, size_t slot) {
  const LogColumn& column = log.Column(slot);
  const bool raw = slot < log.series.wholeNumbers.size() && log.series.wholeNumbers[slot];
  if (raw && (column.kind == ColumnKind::Gyro || column.kind == ColumnKind::Accel)) return "LSB";
  return column.unit;
}

QString StackTitle(const std::string& unit) {
  if (unit.empty()) return QStringLiteral("Value");
  static const std::pair<const char*, const char*> kNames[] = {
      {"deg/s", "Rate"}, {"g", "Acceleration"}, {"degC", "Temperature"}, {"V", "Voltage"},
      {"LSB", "Raw"},    {"deg", "Angle"},      {"s", "Time"}};
  for (const auto& [u, name] : kNames)
    if (unit == u) return QStringLiteral("%1 (%2)").arg(QLatin1String(name), Text(unit));
  return Text(unit);
}

LogTimePlot::LogTimePlot(QCustomPlot& plot, QObject* parent) : QObject(parent), plot_(plot) {
  StylePlot(plot_, Qt::AlignTop | Qt::AlignRight);
  plot_.setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  plot_.setPlottingHint(QCP::phFastPolylines, true);
  plot_.plotLayout()->setRowSpacing(2);
  margins_ = new QCPMarginGroup(&plot_);
  plot_.axisRect()->setMarginGroup(QCP::msLeft | QCP::msRight, margins_);
  plot_.axisRect()->setRangeZoom(Qt::Horizontal);
  new MovableLegend(plot_, *plot_.legend);
  connect(plot_.xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
          [this](const QCPRange& range) {
            // Every stack shows the same time.
            for (QCPAxisRect* rect : extra_) rect->axis(QCPAxis::atBottom)->setRange(range);
            Refill();
            emit VisibleRowsChanged();
          });
}

void LogTimePlot::SetLog(std::shared_ptr<const LoadedLog> log) {
  log_ = std::move(log);
  shown_.clear();
  markers_.clear();
  plot_.clearGraphs();
  graphs_.clear();
  BuildStacks({});
  ResetView();
}

QCPLegend* LogTimePlot::LegendOf(QCPAxisRect* rect) const {
  QCPLayoutInset* inset = rect->insetLayout();
  for (int i = 0; i < inset->elementCount(); ++i)
    if (auto* legend = qobject_cast<QCPLegend*>(inset->elementAt(i))) return legend;
  return nullptr;
}

void LogTimePlot::BuildStacks(const std::vector<std::string>& units) {
  for (QCPAxisRect* rect : extra_) plot_.plotLayout()->remove(rect);
  extra_.clear();
  plot_.plotLayout()->simplify();
  units_ = units.empty() ? std::vector<std::string>{""} : units;
  for (size_t i = 1; i < units_.size(); ++i) {
    auto* rect = new QCPAxisRect(&plot_);
    plot_.plotLayout()->addElement(static_cast<int>(i), 0, rect);
    rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins_);
    rect->setRangeZoom(wheelZoom_);
    rect->axis(QCPAxis::atBottom)->setRange(plot_.xAxis->range());
    connect(rect->axis(QCPAxis::atBottom), qOverload<const QCPRange&>(&QCPAxis::rangeChanged),
            plot_.xAxis, qOverload<const QCPRange&>(&QCPAxis::setRange));
    auto* legend = new QCPLegend;
    rect->insetLayout()->addElement(legend, Qt::AlignTop | Qt::AlignRight);
    legend->setLayer(QStringLiteral("legend"));
    StyleLegend(plot_, *legend);
    new MovableLegend(plot_, *legend);
    extra_.push_back(rect);
  }
  const std::vector<QCPAxisRect*> stacks = Stacks();
  for (size_t i = 0; i < stacks.size(); ++i) {
    QCPAxis* time = stacks[i]->axis(QCPAxis::atBottom);
    const bool bottom = i + 1 == stacks.size();
    time->setTickLabels(bottom);
    time->setLabel(bottom ? TimeAxisTitle() : QString());
    stacks[i]->axis(QCPAxis::atLeft)->setLabel(StackTitle(units_[i]));
  }
}

std::vector<QCPAxisRect*> LogTimePlot::Stacks() const {
  std::vector<QCPAxisRect*> stacks{plot_.axisRect()};
  stacks.insert(stacks.end(), extra_.begin(), extra_.end());
  return stacks;
}

QStringList LogTimePlot::ValueAxisTitles() const {
  QStringList titles;
  for (QCPAxisRect* rect : Stacks()) titles << rect->axis(QCPAxis::atLeft)->label();
  return titles;
}

QCPAxisRect* LogTimePlot::StackAt(const QPointF& pos) const {
  for (QCPAxisRect* rect : Stacks())
    if (rect->rect().contains(pos.toPoint())) return rect;
  return nullptr;
}

int LogTimePlot::MinimumHeight() const {
  int stack = 0;
  const std::vector<QCPAxisRect*> stacks = Stacks();
  for (QCPAxisRect* rect : stacks) {
    const QCPAxis* axis = rect->axis(QCPAxis::atLeft);
    const QFontMetrics label(axis->labelFont());
    stack = std::max({stack, 5 * QFontMetrics(axis->tickLabelFont()).height(),
                      label.horizontalAdvance(axis->label()) + label.height()});
  }
  const QCPAxis* time = plot_.xAxis;
  return static_cast<int>(stacks.size()) * stack + 2 * QFontMetrics(time->tickLabelFont()).height() +
         2 * QFontMetrics(time->labelFont()).height();
}

void LogTimePlot::Show(const std::vector<size_t>& chosen) {
  plot_.clearGraphs();
  graphs_.clear();
  shown_ = chosen;
  std::vector<std::string> units;
  if (log_)
    for (size_t slot : shown_) {
      const std::string unit = DataUnit(*log_, slot);
      if (std::find(units.begin(), units.end(), unit) == units.end()) units.push_back(unit);
    }
  BuildStacks(units);
  const std::vector<QCPAxisRect*> stacks = Stacks();
  FitValueAxes(VisibleRows());  // new stacks start fitted to the rows in view
  if (log_) {
    for (size_t slot : shown_) {
      const auto stack = static_cast<size_t>(
          std::find(units_.begin(), units_.end(), DataUnit(*log_, slot)) - units_.begin());
      QCPAxisRect* rect = stacks[stack];
      QCPGraph* graph = plot_.addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
      graph->setName(Text(log_->ColumnTitle(slot)));
      // One pixel wide: a wider antialiased line through thousands of points is stroked as a
      // path, which costs seconds where this costs milliseconds.
      graph->setPen(QPen(PlotColour(slot), 1));
      graph->setAdaptiveSampling(false);  // the points are few already
      graph->removeFromLegend();
      if (QCPLegend* legend = LegendOf(rect)) graph->addToLegend(legend);
      graphs_.push_back(graph);
    }
  }
  SetLegendVisible(legendVisible_);
  DrawMarkers();
  Refill();
  emit VisibleRowsChanged();
  plot_.replot(QCustomPlot::rpQueuedReplot);
}

QString LogTimePlot::TimeAxisTitle() const {
  if (log_ && log_->samplesPerSecond <= 0) return QStringLiteral("Row");
  return QStringLiteral("Time (s)");
}

RowRange LogTimePlot::VisibleRows() const {
  if (!log_) return {};
  const QCPRange range = plot_.xAxis->range();
  return log_->VisibleRows(range.lower, range.upper);
}

void LogTimePlot::ResetView() { ShowRows({0, log_ ? log_->Rows() : 0}); }

void LogTimePlot::ShowRows(RowRange rows) {
  const std::vector<QCPAxisRect*> stacks = Stacks();
  if (log_) rows = RowsBetween(log_->Rows(), 1.0, static_cast<double>(rows.first),
                               static_cast<double>(rows.End() - 1));  // within the log
  if (!log_ || rows.count == 0) {
    for (QCPAxisRect* rect : stacks) rect->axis(QCPAxis::atLeft)->setRange(0, 1);
    plot_.xAxis->setRange(0, 1);
    plot_.replot(QCustomPlot::rpQueuedReplot);
    return;
  }
  double first = log_->RowTime(rows.first);
  double last = log_->RowTime(rows.End() - 1);
  if (last <= first) last = first + 1;
  FitValueAxes(rows);
  plot_.xAxis->setRange(first, last);  // refills through rangeChanged
  Refill();
  plot_.replot(QCustomPlot::rpQueuedReplot);
}

void LogTimePlot::FitValueAxes(RowRange rows) {
  const std::vector<QCPAxisRect*> stacks = Stacks();
  for (size_t s = 0; s < stacks.size(); ++s) {
    double low = 0, high = 0;
    bool any = false;
    for (size_t slot : shown_) {
      if (!log_ || DataUnit(*log_, slot) != units_[s]) continue;
      double min = 0, max = 0;
      if (!log_->summaries[slot].MinMax(log_->series.values[slot], rows.first, rows.End(), min, max))
        continue;
      low = any ? std::min(low, min) : min;
      high = any ? std::max(high, max) : max;
      any = true;
    }
    if (!any) low = 0, high = 1;
    const double margin = high > low ? (high - low) * 0.05 : std::max(1.0, std::fabs(high) * 0.05);
    stacks[s]->axis(QCPAxis::atLeft)->setRange(low - margin, high + margin);
  }
}

void LogTimePlot::Pan(double fraction) {
  const QCPRange range = plot_.xAxis->range();
  plot_.xAxis->setRange(range.lower + fraction * range.size(), range.upper + fraction * range.size());
  plot_.replot(QCustomPlot::rpQueuedReplot);
}

void LogTimePlot::Zoom(double factor) {
  if (!(factor > 0)) return;
  plot_.xAxis->scaleRange(1 / factor);
  plot_.replot(QCustomPlot::rpQueuedReplot);
}

void LogTimePlot::SetWheelZoom(Qt::Orientations orientations) {
  wheelZoom_ = orientations;
  for (QCPAxisRect* rect : Stacks()) rect->setRangeZoom(orientations);
}

void LogTimePlot::SetLegendVisible(bool visible) {
  legendVisible_ = visible;
  for (QCPAxisRect* rect : Stacks())
    if (QCPLegend* legend = LegendOf(rect)) legend->setVisible(visible && legend->itemCount() > 0);
  plot_.replot(QCustomPlot::rpQueuedReplot);
}

void LogTimePlot::SetMarkers(std::vector<TimeMarker> markers) {
  markers_ = std::move(markers);
  DrawMarkers();
  plot_.replot(QCustomPlot::rpQueuedReplot);
}

void LogTimePlot::DrawMarkers() {
  for (QCPAbstractItem* item : markerItems_) plot_.removeItem(item);
  markerItems_.clear();
  for (QCPAxisRect* rect : Stacks())
    for (const TimeMarker& marker : markers_) {
      auto* line = new QCPItemStraightLine(&plot_);
      line->setClipAxisRect(rect);
      for (QCPItemPosition* p : {line->point1, line->point2})
        p->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
      line->point1->setCoords(marker.seconds, 0);
      line->point2->setCoords(marker.seconds, 1);
      line->setPen(marker.pen);
      line->setSelectable(false);
      markerItems_.push_back(line);
    }
}

void LogTimePlot::Refill() {
  if (!log_) return;
  const QCPRange range = plot_.xAxis->range();
  const RowRange rows = log_->VisibleRows(range.lower, range.upper);
  // At least a point pair per pixel of the plot, wherever it is drawn (also off screen).
  const int buckets = std::max(kMinimumBuckets, plot_.axisRect()->width());
  std::vector<double> keys, values;
  QVector<QCPGraphData> data;
  for (size_t i = 0; i < graphs_.size(); ++i) {
    DecimatedPoints(*log_, shown_[i], rows, buckets, keys, values);
    data.resize(static_cast<qsizetype>(keys.size()));
    for (size_t p = 0; p < keys.size(); ++p)
      data[static_cast<qsizetype>(p)] = QCPGraphData(keys[p], values[p]);
    graphs_[i]->data()->set(data, true);
  }
}

void LoadLogInBackground(BackgroundTask& task, const QStringList& files,
                         std::function<void(std::shared_ptr<const LoadedLog>,
                                            std::optional<LogError>)> done) {
  std::vector<std::filesystem::path> paths;
  for (const QString& file : files) paths.emplace_back(file.toStdString());
  auto log = std::make_shared<LoadedLog>();
  auto error = std::make_shared<std::optional<LogError>>();
  task.Start(
      [paths, log, error](const std::atomic<bool>& cancel, const BackgroundTask::Progress& progress) {
        ReadControl control;
        control.cancel = &cancel;
        control.progress = [&progress](uint64_t read, uint64_t total) {
          if (total > 0) progress(static_cast<double>(read) / static_cast<double>(total));
        };
        *error = LoadLog(paths, control, *log);
      },
      [log, error, done = std::move(done)] {
        if (*error) return done(nullptr, *error);
        done(log, std::nullopt);
      });
}

}  // namespace pemra
