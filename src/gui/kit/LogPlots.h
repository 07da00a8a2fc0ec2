#pragma once
// The two plots of a log, for the windows and for the headless plot alike:
// - LogTimePlot: the chosen columns against time, one colour each, with a legend and the
//   columns' units on the value axis. It holds the log, not copies of its rows: on every
//   change of the time range it asks the log for a few points per pixel (each bucket's
//   minimum and maximum), so a log of millions of rows pans and zooms smoothly.
// - DrawNoisePlot: Allan deviation curves on log-log axes with their 68% intervals, the
//   fitted -1/2 and +1/2 lines and the bias-instability floor.

#include <QColor>
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
class QCPGraph;

namespace pemra {

// The colour of the column at view position `index` (the same in both plots).
QColor PlotColour(size_t index);

class LogTimePlot : public QObject {
  Q_OBJECT

 public:
  explicit LogTimePlot(QCustomPlot& plot, QObject* parent = nullptr);

  // Shows `log` (nothing when null) with no column drawn.
  void SetLog(std::shared_ptr<const LoadedLog> log);
  const std::shared_ptr<const LoadedLog>& Log() const { return log_; }
  // Draws the series slots `chosen` (ascending), each in the colour of its slot.
  void Show(const std::vector<size_t>& chosen);
  const std::vector<size_t>& Shown() const { return shown_; }
  // The whole time range, the value axis fitted to what it shows.
  void ResetView();
  // The rows of the time range shown.
  RowRange VisibleRows() const;
  // The axis titles: "Time (s)" (or "Row" when the log has no rate) and the units of the
  // columns shown, e.g. "Value (deg/s, g)".
  QString TimeAxisTitle() const;
  QString ValueAxisTitle() const;

 signals:
  // The rows shown have changed (a pan, a zoom, other columns).
  void VisibleRowsChanged();

 private:
  void Refill();

  QCustomPlot& plot_;
  std::shared_ptr<const LoadedLog> log_;
  std::vector<size_t> shown_;
  std::vector<QCPGraph*> graphs_;
};

// One column's noise curve and figures.
struct NoiseCurve {
  size_t slot = 0;  // series slot (its colour)
  std::string title;
  ColumnKind kind = ColumnKind::Other;
  std::string unit;  // of the data; "LSB" for raw register values
  std::vector<AllanPoint> points;
  NoiseFigures figures;
  AllanType type = AllanType::Overlapping;  // the figures' lines follow its theory
};

// The curves of the series slots `chosen` of `log` (which must have a rate). Stops early, with what it has,
// when `cancel` is set; `progress` gets the fraction done.
std::vector<NoiseCurve> ComputeNoiseCurves(const LoadedLog& log, const std::vector<size_t>& chosen,
                                           AllanType type, const TauGrid& grid,
                                           const std::atomic<bool>& cancel,
                                           const std::function<void(double)>& progress);

// Clears `plot` and draws the curves.
void DrawNoisePlot(QCustomPlot& plot, const std::vector<NoiseCurve>& curves);

// Reads `files` with LoadLog on `task`'s thread, the progress being the bytes read; `done`
// gets the log (null on an error or a cancel) and the error.
void LoadLogInBackground(BackgroundTask& task, const QStringList& files,
                         std::function<void(std::shared_ptr<const LoadedLog>,
                                            std::optional<LogError>)> done);

}  // namespace pemra
