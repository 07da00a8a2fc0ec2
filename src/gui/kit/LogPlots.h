#pragma once
// The two plots of a log, for the windows and for the headless plot alike:
// - LogTimePlot: the chosen columns against time, one colour each, stacked one value axis
//   per unit over one time axis, each stack with its legend. It holds the log, not copies of its rows: on every
//   change of the time range it asks the log for a few points per pixel (each bucket's
//   minimum and maximum), so a log of millions of rows pans and zooms smoothly.
// (The noise plots are in NoisePlots.h.)

#include <QColor>
#include <QPen>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/AllanDeviation.h"
#include "analysis/LogView.h"
#include "analysis/NoiseFigures.h"
#include "gui/kit/BackgroundTask.h"

class QCustomPlot;
class QCPAbstractItem;
class QCPAxisRect;
class QCPGraph;
class QCPLegend;
class QCPMarginGroup;

namespace pemra {

// The colour of the column at view position `index` (the same in both plots).
QColor PlotColour(size_t index);

// The unit of series slot `slot`'s values: the column's unit, but "LSB" for a gyro or
// accelerometer column of raw register values (whole numbers throughout), whatever its title
// says; empty when unknown.
std::string DataUnit(const LoadedLog& log, size_t slot);
// The value axis title of a stack of columns in `unit`: "Rate (deg/s)", "Raw (LSB)", ...;
// "Value" for no unit.
QString StackTitle(const std::string& unit);

// A vertical line across every stack at a time from the start of the log.
struct TimeMarker {
  double seconds = 0;
  QPen pen;
};

class LogTimePlot : public QObject {
  Q_OBJECT

 public:
  explicit LogTimePlot(QCustomPlot& plot, QObject* parent = nullptr);

  // Shows `log` (nothing when null) with no column drawn.
  void SetLog(std::shared_ptr<const LoadedLog> log);
  const std::shared_ptr<const LoadedLog>& Log() const { return log_; }
  // Draws the series slots `chosen` (ascending), each in the colour of its slot, in one
  // stack per unit (top to bottom in the order the units first occur), all on one time axis.
  void Show(const std::vector<size_t>& chosen);
  const std::vector<size_t>& Shown() const { return shown_; }
  // The whole time range, each value axis fitted to what it shows.
  void ResetView();
  // The time range of `rows`, each value axis fitted to what they hold.
  void ShowRows(RowRange rows);
  // The rows of the time range shown.
  RowRange VisibleRows() const;
  // The time axis title: "Time (s)", or "Row" when the log has no rate.
  QString TimeAxisTitle() const;
  // The stacks, top to bottom (at least one), and their value axis titles.
  std::vector<QCPAxisRect*> Stacks() const;
  QStringList ValueAxisTitles() const;
  // The stack a point of the plot lies in, or null.
  QCPAxisRect* StackAt(const QPointF& pos) const;
  // The height the plot needs for every stack to show its value axis title whole and a few
  // tick labels apart (stacks share the height equally), with the time axis below.
  int MinimumHeight() const;

  // Moves the view by `fraction` of its width (negative: back in time); zooms the time axis
  // by `factor` (above 1: in) about the view's centre.
  void Pan(double fraction);
  void Zoom(double factor);
  // Which axes the wheel zooms, in every stack.
  void SetWheelZoom(Qt::Orientations orientations);
  // The legends of all stacks.
  void SetLegendVisible(bool visible);
  bool LegendVisible() const { return legendVisible_; }

  // Vertical lines across every stack (the cursors).
  void SetMarkers(std::vector<TimeMarker> markers);

 signals:
  // The rows shown have changed (a pan, a zoom, other columns).
  void VisibleRowsChanged();

 private:
  void Refill();
  void BuildStacks(const std::vector<std::string>& units);
  void DrawMarkers();
  // Each stack's value axis to what its columns hold in `rows`.
  void FitValueAxes(RowRange rows);
  QCPLegend* LegendOf(QCPAxisRect* rect) const;

  QCustomPlot& plot_;
  std::shared_ptr<const LoadedLog> log_;
  std::vector<size_t> shown_;
  std::vector<QCPGraph*> graphs_;
  std::vector<std::string> units_;  // per stack
  std::vector<QCPAxisRect*> extra_;  // the stacks below the first (the plot's own rect)
  QCPMarginGroup* margins_ = nullptr;
  std::vector<TimeMarker> markers_;
  std::vector<QCPAbstractItem*> markerItems_;
  Qt::Orientations wheelZoom_ = Qt::Horizontal;
  bool legendVisible_ = true;
};

// Reads `files` with LoadLog on `task`'s thread, the progress being the bytes read; `done`
// gets the log (null on an error or a cancel) and the error.
void LoadLogInBackground(BackgroundTask& task, const QStringList& files,
                         std::function<void(std::shared_ptr<const LoadedLog>,
                                            std::optional<LogError>)> done);

}  // namespace pemra
