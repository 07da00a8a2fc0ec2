// What the noise plots draw: each figure's line bold over the taus it was fitted on and thin
// across the curve (the floor at 0.664 B), each point's noise as its marker with a key, a
// data sheet's N and B converted from the table's units, curves of two logs told apart, and
// the spectrum without its DC bin, with its white-noise level and peaks marked.

#include <QApplication>

#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <vector>

#include "gui/kit/NoisePlots.h"

namespace pemra {
namespace {

struct Line {
  double x0, y0, x1, y1;
};

void ExpectLine(const QCustomPlot& plot, const char* name, const Line& line) {
  SCOPED_TRACE(name);
  const QCPGraph* graph = GraphNamed(plot, QString::fromLatin1(name));
  ASSERT_NE(graph, nullptr);
  ASSERT_EQ(graph->dataCount(), 2);
  EXPECT_DOUBLE_EQ(graph->data()->at(0)->key, line.x0);
  EXPECT_DOUBLE_EQ(graph->data()->at(0)->value, line.y0);
  EXPECT_DOUBLE_EQ(graph->data()->at(1)->key, line.x1);
  EXPECT_DOUBLE_EQ(graph->data()->at(1)->value, line.y1);
}

std::vector<double> Keys(const QCustomPlot& plot, const char* name) {
  std::vector<double> keys;
  if (const QCPGraph* graph = GraphNamed(plot, QString::fromLatin1(name)))
    for (int i = 0; i < graph->dataCount(); ++i) keys.push_back(graph->data()->at(i)->key);
  return keys;
}

QStringList LegendNames(const QCustomPlot& plot) {
  QStringList names;
  for (int i = 0; i < plot.legend->itemCount(); ++i)
    if (auto* item = qobject_cast<QCPPlottableLegendItem*>(plot.legend->item(i)))
      names << item->plottable()->name();
  return names;
}

// A gyro curve from 0.1 s to 10 s: white noise at the first two points, flicker at the
// third, random walk at the last.
NoiseCurve GyroCurve() {
  NoiseCurve curve;
  curve.title = "X Gyro";
  curve.log = "WALK_1.csv";
  curve.kind = ColumnKind::Gyro;
  curve.unit = "deg/s";
  const double taus[] = {0.1, 0.4, 1.6, 10};
  const double devs[] = {0.05, 0.025, 0.004, 0.006};
  const int alphas[] = {0, 0, -1, -2};
  for (int i = 0; i < 4; ++i) {
    AllanPoint p;
    p.tau = taus[i];
    p.m = static_cast<int64_t>(taus[i] * 10);
    p.deviation = devs[i];
    p.low = devs[i] * 0.9;
    p.high = devs[i] * 1.2;
    p.noise.alpha = alphas[i];
    curve.points.push_back(p);
  }
  NoiseFigures& f = curve.figures;
  f.biasInstability.determined = true;
  f.biasInstability.value = 0.006;
  f.biasInstability.tauLow = 1;
  f.biasInstability.tauHigh = 10;
  f.randomWalk.determined = true;
  f.randomWalk.value = 0.016;
  f.randomWalk.tauLow = 0.1;
  f.randomWalk.tauHigh = 0.4;
  f.rateRandomWalk.determined = true;
  f.rateRandomWalk.value = 0.0036;
  f.rateRandomWalk.tauLow = 4;
  f.rateRandomWalk.tauHigh = 9;
  return curve;
}

TEST(NoisePlots, EachFigureIsDrawnBoldWhereItWasFittedAndThinAcrossTheCurve) {
  QCustomPlot plot;
  DrawNoisePlot(plot, {GyroCurve()});
  // N 0.016 / sqrt(tau): 0.016 / sqrt(0.1) = 0.050596443, / sqrt(0.4) = 0.025298221,
  // / sqrt(10) = 0.005059644. The floor 0.664 x 0.006 = 0.003984. K x sqrt(tau / 3):
  // 0.0036 x sqrt(4 / 3) = 0.004156922, x sqrt(3) = 0.006235383, x sqrt(0.1 / 3) =
  // 0.000657267, x sqrt(10 / 3) = 0.006572671.
  ExpectLine(plot, "X Gyro: N fitted", {0.1, 0.050596442562694069, 0.4, 0.025298221281347035});
  ExpectLine(plot, "X Gyro: N line", {0.1, 0.050596442562694069, 10, 0.0050596442562694071});
  ExpectLine(plot, "X Gyro: B fitted", {1, 0.003984, 10, 0.003984});
  ExpectLine(plot, "X Gyro: B line", {0.1, 0.003984, 10, 0.003984});
  ExpectLine(plot, "X Gyro: K fitted", {4, 0.0041569219381653051, 9, 0.0062353829072479583});
  ExpectLine(plot, "X Gyro: K line", {0.1, 0.00065726706900619924, 10, 0.0065726706900619926});
  EXPECT_EQ(plot.yAxis->label(), QStringLiteral("Allan deviation (deg/s)"));
}

TEST(NoisePlots, EachPointIsMarkedWithItsNoiseAndTheMarkersHaveAKey) {
  QCustomPlot plot;
  DrawNoisePlot(plot, {GyroCurve()});
  EXPECT_EQ(Keys(plot, "X Gyro: white"), (std::vector<double>{0.1, 0.4}));
  EXPECT_EQ(Keys(plot, "X Gyro: flicker"), (std::vector<double>{1.6}));
  EXPECT_EQ(Keys(plot, "X Gyro: random walk"), (std::vector<double>{10}));
  EXPECT_EQ(GraphNamed(plot, QStringLiteral("X Gyro: flicker walk")), nullptr);
  const QCPGraph* white = GraphNamed(plot, QStringLiteral("X Gyro: white"));
  const QCPGraph* walk = GraphNamed(plot, QStringLiteral("X Gyro: random walk"));
  ASSERT_TRUE(white && walk);
  EXPECT_EQ(white->scatterStyle().shape(), QCPScatterStyle::ssCircle);
  EXPECT_EQ(walk->scatterStyle().shape(), QCPScatterStyle::ssTriangle);
  EXPECT_EQ(LegendNames(plot),
            (QStringList{"X Gyro", "white noise (alpha 0)", "flicker noise (alpha -1)",
                         "random walk noise (alpha -2)"}));
  // The curve carries the intervals as error bars: 0.9 and 1.2 times each deviation.
  const QCPGraph* curve = GraphNamed(plot, QStringLiteral("X Gyro"));
  ASSERT_NE(curve, nullptr);
  QCPErrorBars* bars = nullptr;
  for (int i = 0; i < plot.plottableCount(); ++i)
    if (auto* b = qobject_cast<QCPErrorBars*>(plot.plottable(i))) bars = b;
  ASSERT_NE(bars, nullptr);
  EXPECT_EQ(bars->dataPlottable(), curve);
  ASSERT_EQ(bars->dataCount(), 4);
  EXPECT_NEAR(bars->data()->at(0).errorMinus, 0.005, 1e-15);
  EXPECT_NEAR(bars->data()->at(0).errorPlus, 0.01, 1e-15);
}

TEST(NoisePlots, ADataSheetsFiguresAreDrawnInTheUnitsTheyWereTypedIn) {
  struct Case {
    const char* name;
    DataSheetLine sheet;
    const char* legend;
    Line line;
  };
  // Gyro: N 0.3 deg/sqrt(h) = 0.005 deg/s*sqrt(s): 0.005 / sqrt(0.1) = 0.0158113883 to
  // 0.0015811388 at 10 s; B 10 deg/h: 0.664 x 10 / 3600 = 0.0018444444 deg/s.
  // Accelerometer: B 2 mg: 0.664 x 0.002 = 0.001328 g; N 0.5886 m/s/sqrt(h) =
  // 0.5886 / (9.80665 x 60) = 0.00100034 g*sqrt(s).
  const Case cases[] = {
      {"Data sheet N", {ColumnKind::Gyro, 0.3, 0}, "Data sheet N 0.3 deg/sqrt(h)",
       {0.1, 0.015811388300841896, 10, 0.0015811388300841897}},
      {"Data sheet B", {ColumnKind::Gyro, 0, 10}, "Data sheet B 10 deg/h",
       {0.1, 0.0018444444444444446, 10, 0.0018444444444444446}},
      {"Data sheet B", {ColumnKind::Accel, 0, 2}, "Data sheet B 2 mg", {0.1, 0.001328, 10, 0.001328}},
      {"Data sheet N", {ColumnKind::Accel, 0.5886, 0}, "Data sheet N 0.5886 m/s/sqrt(h)",
       {0.1, 0.0031633579098113837, 10, 0.00031633579098113833}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    QCustomPlot plot;
    DrawNoisePlot(plot, {GyroCurve()}, c.sheet);
    ExpectLine(plot, c.name, c.line);
    EXPECT_TRUE(LegendNames(plot).contains(QString::fromLatin1(c.legend))) << LegendNames(plot).join('|').toStdString();
  }
  QCustomPlot none;
  DrawNoisePlot(none, {GyroCurve()}, {});
  EXPECT_EQ(GraphNamed(none, QStringLiteral("Data sheet N")), nullptr);
  EXPECT_EQ(GraphNamed(none, QStringLiteral("Data sheet B")), nullptr);
}

TEST(NoisePlots, CurvesOfTwoLogsAreLabelledWithTheirFiles) {
  NoiseCurve first = GyroCurve();
  NoiseCurve second = GyroCurve();
  second.log = "WALK_2.csv";
  second.colour = 4;
  second.overlay = true;
  QCustomPlot plot;
  DrawNoisePlot(plot, {first, second});
  const QCPGraph* a = GraphNamed(plot, QStringLiteral("X Gyro (WALK_1.csv)"));
  const QCPGraph* b = GraphNamed(plot, QStringLiteral("X Gyro (WALK_2.csv)"));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->pen().style(), Qt::SolidLine);
  EXPECT_EQ(b->pen().style(), Qt::DashLine);
  EXPECT_NE(a->pen().color(), b->pen().color());
  EXPECT_NE(GraphNamed(plot, QStringLiteral("X Gyro (WALK_2.csv): B fitted")), nullptr);
  EXPECT_EQ(plot.legend->columnCount(), 1);  // 2 curves, 3 noises
  // Four logs with a data sheet: 4 curves, 3 noises, 2 lines in two columns of 5 and 4.
  NoiseCurve third = second, fourth = second;
  third.log = "WALK_3.csv";
  fourth.log = "WALK_4.csv";
  QCustomPlot crowded;
  DrawNoisePlot(crowded, {first, second, third, fourth}, {ColumnKind::Gyro, 0.3, 10});
  ASSERT_EQ(LegendNames(crowded).size(), 9);
  EXPECT_EQ(crowded.legend->columnCount(), 2);
  EXPECT_EQ(crowded.legend->rowCount(), 5);
  auto* top = qobject_cast<QCPPlottableLegendItem*>(crowded.legend->element(0, 1));
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->plottable()->name(), QStringLiteral("flicker noise (alpha -1)"));
  // Drawn again with fewer entries, then with one more than two full columns held before
  // (10 entries in 5 rows, then 11 in 6): arranged from the entries, not the cells left.
  DrawNoisePlot(crowded, {first});
  EXPECT_EQ(crowded.legend->columnCount(), 1);
  NoiseCurve fifth = second, sixth = second;
  fifth.log = "WALK_5.csv";
  sixth.log = "WALK_6.csv";
  const DataSheetLine sheet{ColumnKind::Gyro, 0.3, 10};
  DrawNoisePlot(crowded, {first, second, third, fourth, fifth}, sheet);
  EXPECT_EQ(crowded.legend->rowCount(), 5);
  DrawNoisePlot(crowded, {first, second, third, fourth, fifth, sixth}, sheet);
  EXPECT_EQ(crowded.legend->columnCount(), 2);
  EXPECT_EQ(crowded.legend->rowCount(), 6);
  // One log: the titles alone.
  QCustomPlot single;
  DrawNoisePlot(single, {first});
  EXPECT_NE(GraphNamed(single, QStringLiteral("X Gyro")), nullptr);
  EXPECT_EQ(GraphNamed(single, QStringLiteral("X Gyro (WALK_1.csv)")), nullptr);
}

TEST(NoisePlots, TheSpectrumLeavesOutDcAndMarksTheWhiteLevelAndPeaks) {
  SpectrumCurve curve;
  curve.title = "X Gyro";
  curve.log = "WALK_1.csv";
  curve.unit = "deg/s";
  curve.spectrum.frequency = {0, 1, 2, 3, 4, 5, 6};
  curve.spectrum.density = {9, 0.1, 0.12, 0.5, 0.1, 0.11, 0.1};
  curve.summary.flat.determined = true;
  curve.summary.flat.density = 0.105;
  curve.summary.flat.frequencyLow = 1;
  curve.summary.flat.frequencyHigh = 6;
  curve.summary.peaks = {{3, 0.5, 0.1}};
  QCustomPlot plot;
  DrawSpectrumPlot(plot, {curve});
  EXPECT_EQ(Keys(plot, "X Gyro"), (std::vector<double>{1, 2, 3, 4, 5, 6}));
  ExpectLine(plot, "X Gyro: white noise line", {1, 0.105, 6, 0.105});
  // One legend line for the curve, with its level.
  EXPECT_EQ(LegendNames(plot), QStringList{QStringLiteral("X Gyro: white noise 0.105 deg/s/sqrt(Hz)")});
  EXPECT_EQ(Keys(plot, "X Gyro: peaks"), (std::vector<double>{3}));
  ASSERT_EQ(plot.itemCount(), 1);
  auto* label = qobject_cast<QCPItemText*>(plot.item(0));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QStringLiteral("3 Hz"));
  EXPECT_EQ(plot.xAxis->label(), QStringLiteral("Frequency (Hz)"));
  EXPECT_EQ(plot.yAxis->label(), QStringLiteral("Density (deg/s)/sqrt(Hz)"));
  EXPECT_EQ(plot.xAxis->scaleType(), QCPAxis::stLogarithmic);
  EXPECT_EQ(plot.yAxis->scaleType(), QCPAxis::stLogarithmic);
}

}  // namespace
}  // namespace pemra
