#include "gui/kit/NoisePlots.h"

#include <QVector>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <span>

#include "analysis/NoiseIdentification.h"
#include "analysis/RowSelection.h"
#include "core/NumberText.h"
#include "core/ShownText.h"
#include "gui/kit/LogPlots.h"
#include "gui/kit/PlotAxes.h"

namespace pemra {

namespace {

// Text from a file or a name, made safe to show (control bytes escaped, length cut).
QString Text(const std::string& text) {
  return QString::fromStdString(ShownText(text, kShownMessage));
}

QString UnitList(const std::vector<std::string>& units) {
  QStringList list;
  for (const std::string& unit : units)
    if (!unit.empty() && !list.contains(Text(unit))) list << Text(unit);
  return list.join(QStringLiteral(", "));
}

// A figure for a legend: four significant digits.
QString Short(double value) {
  return QString::fromStdString(GeneralText(static_cast<double>(
      QString::number(value, 'g', 4).toDouble())));
}

// A fresh plot with log axes and a legend in `corner` (unless the user has moved it).
void StartLogLogPlot(QCustomPlot& plot, const QString& xTitle, Qt::Alignment corner) {
  plot.clearPlottables();
  plot.clearItems();
  QFont small = plot.font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  plot.legend->setFont(small);
  // As tall as a line of its text, so descenders (the _ of a file name) are not cut off.
  plot.legend->setIconSize(24, QFontMetrics(small).height() + 4);
  plot.legend->setBrush(QColor(255, 255, 255, 220));
  if (plot.axisRect()->insetLayout()->insetPlacement(0) == QCPLayoutInset::ipBorderAligned)
    plot.axisRect()->insetLayout()->setInsetAlignment(0, corner);
  for (QCPAxis* axis : {plot.xAxis, plot.yAxis}) UseLogTicks(*axis);
  plot.xAxis->setLabel(xTitle);
}

// More than eight entries go in two columns (curves first, then the key and the data
// sheet), so the legend covers less of the curves.
void ArrangeLegend(QCustomPlot& plot) {
  QCPLegend& legend = *plot.legend;
  int count = 0;  // the entries (a wrapped grid keeps empty cells)
  for (int i = 0; i < legend.itemCount(); ++i) count += legend.item(i) ? 1 : 0;
  legend.setWrap(count > 8 ? (count + 1) / 2 : 0);
  legend.setFillOrder(QCPLayoutGrid::foRowsFirst, true);
}

QPen CurvePen(size_t colour, bool overlay, double width) {
  return QPen(PlotColour(colour), width, overlay ? Qt::DashLine : Qt::SolidLine);
}

// A straight graph from (x0, y0) to (x1, y1), not in the legend.
QCPGraph* Segment(QCustomPlot& plot, const QString& name, double x0, double y0, double x1,
                  double y1, const QPen& pen) {
  QCPGraph* graph = plot.addGraph();
  graph->setName(name);
  graph->removeFromLegend();
  graph->setPen(pen);
  graph->setData(QVector<double>{x0, x1}, QVector<double>{y0, y1}, true);
  return graph;
}

// The range of everything drawn, for the axes.
struct Extent {
  double xLow = 0, xHigh = 0, yLow = 0, yHigh = 0;
  bool any = false;
  void Widen(double x, double low, double high) {
    if (!(x > 0 && low > 0 && high > 0 && std::isfinite(x) && std::isfinite(high))) return;
    xLow = any ? std::min(xLow, x) : x;
    xHigh = any ? std::max(xHigh, x) : x;
    yLow = any ? std::min(yLow, low) : low;
    yHigh = any ? std::max(yHigh, high) : high;
    any = true;
  }
  void Apply(QCustomPlot& plot, double xFallback, double yFallback) const {
    if (any) {
      plot.xAxis->setRange(xLow / 1.5, xHigh * 1.5);
      plot.yAxis->setRange(yLow / 1.5, yHigh * 1.5);
    } else {
      plot.xAxis->setRange(xFallback / 100, xFallback * 100);
      plot.yAxis->setRange(yFallback / 100, yFallback);
    }
  }
};

constexpr int kNoises[] = {2, 1, 0, -1, -2, -3, -4};

// A curve of series slot `slot` of `log`, named and coloured, its unit that of the data.
template <typename Curve>
Curve CurveOf(const LoadedLog& log, size_t slot) {
  Curve curve;
  curve.slot = slot;
  curve.colour = slot;
  curve.title = log.ColumnTitle(slot);
  curve.log = log.Name();
  curve.unit = DataUnit(log, slot);
  return curve;
}

}  // namespace

std::string CurveLabel(const std::string& title, const std::string& log, bool withLog) {
  return withLog ? title + " (" + log + ")" : title;
}

QCPGraph* GraphNamed(const QCustomPlot& plot, const QString& name) {
  for (int i = 0; i < plot.graphCount(); ++i) {
    const QString n = plot.graph(i)->name();
    if (n == name || n.startsWith(name + QLatin1Char(' '))) return plot.graph(i);
  }
  return nullptr;
}

int NoiseMarker(int alpha) {
  switch (alpha) {
    case 2: return QCPScatterStyle::ssPlus;
    case 1: return QCPScatterStyle::ssCross;
    case 0: return QCPScatterStyle::ssCircle;
    case -1: return QCPScatterStyle::ssSquare;
    case -2: return QCPScatterStyle::ssTriangle;
    case -3: return QCPScatterStyle::ssTriangleInverted;
  }
  return QCPScatterStyle::ssDiamond;
}

std::vector<NoiseCurve> ComputeNoiseCurves(const LoadedLog& log, const std::vector<size_t>& chosen,
                                           RowRange rows, AllanType type, const TauGrid& grid,
                                           const std::atomic<bool>& cancel,
                                           const std::function<void(double)>& progress) {
  std::vector<NoiseCurve> curves;
  const double rate = log.samplesPerSecond;
  rows = RowsBetween(log.Rows(), 1.0, static_cast<double>(rows.first),
                     static_cast<double>(rows.End() - 1));  // within the log
  const int64_t samples = rows.count;
  if (rate <= 0 || samples == 0) return curves;
  // The averaging factors go in groups, so the progress moves within a long column.
  const std::vector<int64_t> factors = AveragingFactors(grid, samples, rate, type);
  constexpr size_t kGroup = 6;
  const size_t groups = (factors.size() + kGroup - 1) / kGroup;
  const double steps = static_cast<double>(std::max<size_t>(1, chosen.size() * groups));
  double step = 0;
  for (size_t slot : chosen) {
    if (cancel) break;
    NoiseCurve curve = CurveOf<NoiseCurve>(log, slot);
    curve.kind = log.Column(slot).kind;
    for (size_t g = 0; g < groups && !cancel; ++g) {
      TauGrid part{TauGridKind::List, {}};
      for (size_t i = g * kGroup; i < std::min(factors.size(), (g + 1) * kGroup); ++i)
        part.taus.push_back(static_cast<double>(factors[i]) / rate);
      const std::span<const double> values(log.series.values[slot].data() + rows.first,
                                           static_cast<size_t>(rows.count));
      const auto points = AllanDeviation(values, rate, type, part, &cancel);
      curve.points.insert(curve.points.end(), points.begin(), points.end());
      if (progress) progress(++step / steps);
    }
    if (cancel) break;
    curve.figures = FitNoiseFigures(curve.points, type);
    curve.type = type;
    curves.push_back(std::move(curve));
  }
  return curves;
}

std::vector<SpectrumCurve> ComputeSpectra(const LoadedLog& log, const std::vector<size_t>& chosen,
                                          RowRange rows, const std::atomic<bool>& cancel) {
  std::vector<SpectrumCurve> curves;
  const double rate = log.samplesPerSecond;
  rows = RowsBetween(log.Rows(), 1.0, static_cast<double>(rows.first),
                     static_cast<double>(rows.End() - 1));
  if (rate <= 0 || rows.count < 2) return curves;
  const int64_t segment = DefaultPsdSegment(rows.count);
  for (size_t slot : chosen) {
    if (cancel) break;
    SpectrumCurve curve = CurveOf<SpectrumCurve>(log, slot);
    const std::span<const double> values(log.series.values[slot].data() + rows.first,
                                         static_cast<size_t>(rows.count));
    curve.spectrum = WelchSpectrum(values, rate, segment);
    curve.summary = SummariseSpectrum(curve.spectrum);
    curves.push_back(std::move(curve));
  }
  return curves;
}

void DrawNoisePlot(QCustomPlot& plot, const std::vector<NoiseCurve>& curves,
                   const DataSheetLine& sheet) {
  StartLogLogPlot(plot, QStringLiteral("Averaging time tau (s)"), Qt::AlignBottom | Qt::AlignLeft);
  const bool withLog = SeveralLogs(curves);
  std::vector<std::string> units;
  std::map<int, bool> noisesShown;
  Extent extent;
  for (const NoiseCurve& curve : curves) {
    if (curve.points.empty()) continue;
    units.push_back(curve.unit);
    const QString label = Text(CurveLabel(curve.title, curve.log, withLog));
    const QColor colour = PlotColour(curve.colour);
    QVector<double> taus, devs, minus, plus;
    std::map<int, std::pair<QVector<double>, QVector<double>>> byNoise;
    for (const AllanPoint& p : curve.points) {
      taus << p.tau;
      devs << p.deviation;
      minus << std::max(0.0, p.deviation - p.low);
      plus << std::max(0.0, p.high - p.deviation);
      extent.Widen(p.tau, p.low > 0 ? p.low : p.deviation, p.high > 0 ? p.high : p.deviation);
      byNoise[p.noise.alpha].first << p.tau;
      byNoise[p.noise.alpha].second << p.deviation;
    }
    QCPGraph* graph = plot.addGraph();
    graph->setName(label);
    graph->setPen(CurvePen(curve.colour, curve.overlay, 1.5));
    graph->setData(taus, devs, true);
    auto* bars = new QCPErrorBars(plot.xAxis, plot.yAxis);
    bars->removeFromLegend();
    bars->setDataPlottable(graph);
    bars->setData(minus, plus);
    bars->setPen(QPen(colour, 1));
    // Each point's marker tells the noise identified there.
    for (const auto& [alpha, points] : byNoise) {
      QCPGraph* marks = plot.addGraph();
      marks->setName(label + QStringLiteral(": ") + Text(std::string(NoiseText(alpha))));
      marks->removeFromLegend();
      marks->setLineStyle(QCPGraph::lsNone);
      marks->setScatterStyle(QCPScatterStyle(
          static_cast<QCPScatterStyle::ScatterShape>(NoiseMarker(alpha)), colour, 7));
      marks->setData(points.first, points.second, true);
      noisesShown[alpha] = true;
    }

    // Each figure's line in the theory of the curve's type (-1/2 through N, +1/2 through K,
    // the flat floor of flicker noise, 0.664 B on the Allan deviation): bold over the taus it
    // was fitted on, thin across the curve.
    const double first = curve.points.front().tau;
    const double last = curve.points.back().tau;
    const NoiseCoefficients c = CoefficientsFor(curve.type);
    // (The modified deviation's white coefficient settles to 1/sqrt(2) within a few samples:
    // the line is drawn with it, as a straight -1/2 line.)
    const double white = c.White(curve.points.back().m);
    struct Line {
      const char* name;
      const NoiseFigure& figure;
      std::function<double(double)> at;  // the line's deviation at tau
      Qt::PenStyle style;
    };
    const NoiseFigures& f = curve.figures;
    const Line lines[] = {
        {"N", f.randomWalk, [&](double tau) { return f.randomWalk.value * white / std::sqrt(tau); },
         Qt::DashLine},
        {"B", f.biasInstability, [&](double) { return c.flicker * f.biasInstability.value; },
         Qt::DashDotLine},
        {"K", f.rateRandomWalk, [&](double tau) { return f.rateRandomWalk.value * c.walk * std::sqrt(tau); },
         Qt::DashLine},
    };
    for (const Line& line : lines) {
      if (!line.figure.determined) continue;
      const QString name = label + QStringLiteral(": ") + QLatin1String(line.name);
      Segment(plot, name + QStringLiteral(" line"), first, line.at(first), last, line.at(last),
              QPen(QColor(colour.red(), colour.green(), colour.blue(), 150), 1, line.style));
      const double low = line.figure.tauLow, high = line.figure.tauHigh;
      Segment(plot, name + QStringLiteral(" fitted"), low, line.at(low), high, line.at(high),
              QPen(colour, 3.5, Qt::SolidLine, Qt::FlatCap));
    }
  }
  // The key of the markers, in grey, once per noise shown.
  for (int alpha : kNoises) {
    if (!noisesShown.count(alpha)) continue;
    QCPGraph* key = plot.addGraph();
    key->setName(QStringLiteral("%1 noise (alpha %2)").arg(QLatin1String(NoiseText(alpha).data())).arg(alpha));
    key->setLineStyle(QCPGraph::lsNone);
    key->setScatterStyle(QCPScatterStyle(static_cast<QCPScatterStyle::ScatterShape>(NoiseMarker(alpha)),
                                         Qt::darkGray, 7));
  }
  // A data sheet's figures, in the units of the table, drawn over the taus shown.
  if ((sheet.n > 0 || sheet.b > 0) && extent.any) {
    const FigureUnits u = UnitsFor(sheet.kind, sheet.kind == ColumnKind::Accel ? "g" : "deg/s");
    const NoiseCoefficients c = CoefficientsFor(curves.empty() ? AllanType::Overlapping : curves.front().type);
    const double first = extent.xLow, last = extent.xHigh;
    const QPen pen(Qt::black, 2, Qt::DotLine);
    if (sheet.n > 0) {
      const double n = sheet.n / u.n.factor;
      QCPGraph* g = Segment(plot, QStringLiteral("Data sheet N %1 %2").arg(Short(sheet.n), Text(u.n.name)),
                            first, n * c.White(1 << 20) / std::sqrt(first), last,
                            n * c.White(1 << 20) / std::sqrt(last), pen);
      g->addToLegend();
      extent.Widen(first, g->data()->at(1)->value, g->data()->at(0)->value);
    }
    if (sheet.b > 0) {
      const double floor = c.flicker * sheet.b / u.b.factor;
      QCPGraph* g = Segment(plot, QStringLiteral("Data sheet B %1 %2").arg(Short(sheet.b), Text(u.b.name)),
                            first, floor, last, floor, QPen(Qt::black, 2, Qt::DashDotDotLine));
      g->addToLegend();
      extent.Widen(first, floor, floor);
    }
  }
  const QString list = UnitList(units);
  const QString title = !curves.empty() && curves.front().type == AllanType::Hadamard
                            ? QStringLiteral("Hadamard deviation")
                            : QStringLiteral("Allan deviation");
  plot.yAxis->setLabel(list.isEmpty() ? title : QStringLiteral("%1 (%2)").arg(title, list));
  extent.Apply(plot, 1, 1);
  ArrangeLegend(plot);
  plot.replot(QCustomPlot::rpQueuedReplot);
}

void DrawSpectrumPlot(QCustomPlot& plot, const std::vector<SpectrumCurve>& curves) {
  StartLogLogPlot(plot, QStringLiteral("Frequency (Hz)"), Qt::AlignBottom | Qt::AlignLeft);
  const bool withLog = SeveralLogs(curves);
  std::vector<std::string> units;
  Extent extent;
  for (const SpectrumCurve& curve : curves) {
    const Spectrum& s = curve.spectrum;
    if (s.frequency.size() < 2) continue;
    units.push_back(curve.unit.empty() ? std::string("units") : curve.unit);
    const QString label = Text(CurveLabel(curve.title, curve.log, withLog));
    const QColor colour = PlotColour(curve.colour);
    QVector<double> f, d;
    for (size_t k = 1; k < s.frequency.size(); ++k) {  // DC has no place on a log axis
      if (!(s.density[k] > 0)) continue;
      f << s.frequency[k];
      d << s.density[k];
      extent.Widen(s.frequency[k], s.density[k], s.density[k]);
    }
    QCPGraph* graph = plot.addGraph();
    graph->setName(label);
    graph->setPen(CurvePen(curve.colour, curve.overlay, 1));
    graph->setAdaptiveSampling(true);
    graph->setData(f, d, true);
    const FlatBand& flat = curve.summary.flat;
    if (flat.determined && !f.isEmpty()) {
      const QString unit = Text(units.back() + "/sqrt(Hz)");
      Segment(plot, label + QStringLiteral(": white noise line"), f.front(), flat.density,
              f.back(), flat.density, QPen(colour, 1, Qt::DotLine));
      QCPGraph* band = Segment(plot,
                               label + QStringLiteral(": white noise %1 %2").arg(Short(flat.density), unit),
                               flat.frequencyLow, flat.density, flat.frequencyHigh, flat.density,
                               QPen(colour.darker(140), 3, Qt::DashLine, Qt::FlatCap));
      // One legend line per curve: its white-noise level where it has one.
      band->addToLegend();
      graph->removeFromLegend();
    }
    if (!curve.summary.peaks.empty()) {
      QVector<double> pf, pd;
      for (const SpectrumPeak& p : curve.summary.peaks) {
        pf << p.frequency;
        pd << p.density;
        auto* text = new QCPItemText(&plot);
        text->position->setCoords(p.frequency, p.density);
        text->setPositionAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        text->setPadding(QMargins(0, 0, 0, 8));
        text->setText(QStringLiteral("%1 Hz").arg(Short(p.frequency)));
        text->setColor(colour.darker(140));
        text->setFont(plot.legend->font());
        text->setSelectable(false);
        extent.Widen(p.frequency, p.density, p.density * 2);  // room for the label
      }
      QCPGraph* peaks = plot.addGraph();
      peaks->setName(label + QStringLiteral(": peaks"));
      peaks->removeFromLegend();
      peaks->setLineStyle(QCPGraph::lsNone);
      peaks->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssTriangleInverted, colour.darker(140),
                                             colour, 9));
      peaks->setData(pf, pd, true);
    }
  }
  const QString list = UnitList(units);
  // Short enough for a small plot at a large text scale.
  plot.yAxis->setLabel(list.isEmpty() ? QStringLiteral("Amplitude density")
                                      : QStringLiteral("Density (%1)/sqrt(Hz)").arg(list));
  extent.Apply(plot, 1, 1);
  ArrangeLegend(plot);
  plot.replot(QCustomPlot::rpQueuedReplot);
}

}  // namespace pemra
