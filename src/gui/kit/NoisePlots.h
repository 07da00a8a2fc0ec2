#pragma once
// The noise window's two plots, for the window and the headless plot alike:
// - DrawNoisePlot: deviation curves on log-log axes, each point marked with the noise
//   identified there (a key of the markers in the legend) and its 68% interval as an error
//   bar; each determined figure's line (-1/2 through N, +1/2 through K, the flat floor of B)
//   drawn bold over the taus it was fitted on and thin across the curve; optionally the
//   figures of a data sheet beside them.
// - DrawSpectrumPlot: Welch's amplitude density on log-log axes, with the white-noise
//   density of the flat band and the peaks marked with their frequency.
// Curves of several logs are labelled with their file.

#include <QColor>
#include <QString>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "analysis/AllanDeviation.h"
#include "analysis/LogView.h"
#include "analysis/NoiseFigures.h"
#include "analysis/Psd.h"

class QCustomPlot;
class QCPGraph;

namespace pemra {

// One column's noise curve and figures.
struct NoiseCurve {
  size_t slot = 0;  // series slot in its log
  std::string title;
  std::string log;      // the name of the log it came from
  size_t colour = 0;    // PlotColour index: the slot for the first log
  bool overlay = false;  // from a log added beside the first: drawn dashed
  ColumnKind kind = ColumnKind::Other;
  std::string unit;  // of the data; "LSB" for raw register values
  std::vector<AllanPoint> points;
  NoiseFigures figures;
  AllanType type = AllanType::Overlapping;  // the figures' lines follow its theory
};

// One column's spectrum over the same rows.
struct SpectrumCurve {
  size_t slot = 0;
  std::string title;
  std::string log;
  size_t colour = 0;
  bool overlay = false;
  std::string unit;
  Spectrum spectrum;
  SpectrumSummary summary;
};

// "X Gyro", or "X Gyro (WALK_1.csv)" when `withLog`.
std::string CurveLabel(const std::string& title, const std::string& log, bool withLog);
// Whether the curves come from more than one log (their labels then name it).
template <typename Curve>
bool SeveralLogs(const std::vector<Curve>& curves) {
  for (const Curve& c : curves)
    if (c.log != curves.front().log) return true;
  return false;
}

// The curves of the series slots `chosen` of `log` (which must have a rate), over `rows`.
// Stops early, with what it has, when `cancel` is set; `progress` gets the fraction done.
std::vector<NoiseCurve> ComputeNoiseCurves(const LoadedLog& log, const std::vector<size_t>& chosen,
                                           RowRange rows, AllanType type, const TauGrid& grid,
                                           const std::atomic<bool>& cancel,
                                           const std::function<void(double)>& progress);

// The spectra of the same columns over the same rows, with the segment pemra-cli psd uses by
// default (2^14 samples, or all the rows when fewer). Columns of fewer than 2 rows are left out.
std::vector<SpectrumCurve> ComputeSpectra(const LoadedLog& log, const std::vector<size_t>& chosen,
                                          RowRange rows, const std::atomic<bool>& cancel);

// The figures of a data sheet for one kind of sensor, in the units the table states them
// (gyro: deg/sqrt(h), deg/h; accelerometer: m/s/sqrt(h), mg); 0 draws no line.
struct DataSheetLine {
  ColumnKind kind = ColumnKind::Gyro;
  double n = 0;
  double b = 0;
};

// The marker of a point whose noise is `alpha` (2 .. -4).
int NoiseMarker(int alpha);

// Clears `plot` and draws the curves; the legend starts at the bottom left, where the curves
// of a still sensor leave room (their long-tau end, where K is read, lies to the right).
// Graphs are named for what they show: "LABEL" (the curve), "LABEL: white" (its points of
// that noise), "LABEL: N fitted" and "LABEL: N line" (the same for B and K), "Data sheet N",
// "Data sheet B".
void DrawNoisePlot(QCustomPlot& plot, const std::vector<NoiseCurve>& curves,
                   const DataSheetLine& sheet = {});

// Clears `plot` and draws the spectra (the DC bin left out of the log axis). Graphs: "LABEL",
// "LABEL: white noise LEVEL UNIT" (the flat band's level over the band; in the legend instead
// of the curve), "LABEL: white noise line" (the level across all bins), "LABEL: peaks".
void DrawSpectrumPlot(QCustomPlot& plot, const std::vector<SpectrumCurve>& curves);

// The graph of `plot` named `name`, or null.
QCPGraph* GraphNamed(const QCustomPlot& plot, const QString& name);

}  // namespace pemra
