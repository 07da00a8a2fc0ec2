// The noise window's exports, spectrum, added logs, data sheet and button row, driven by
// object name: on the eight-row log every deviation point and spectrum bin against values
// worked out by hand (the spectrum the same pemra-cli psd prints for these rows); the
// figures table in full precision with reasons apart from numbers; a further log's curves
// labelled by file; the data sheet boxes keeping to their rules; every control of the row
// on a 1366x768 screen at 200%.

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gui/GuiTestSupport.h"
#include "gui/kit/NoisePlots.h"
#include "gui/windows/ViewLog.h"
#include "gui/windows/frmNoise.h"
#include "support/GeneratedLog.h"

namespace pemra {
namespace {

// Until the window is idle with a result and the status line no longer says it is working.
void WaitForCurves(frmNoise& window, size_t curves) {
  QDeadlineTimer deadline(30000);
  const auto done = [&] {
    return !window.Busy() && window.Curves().size() == curves &&
           window.lblStatus->text().contains(QStringLiteral(" rows at "));
  };
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  } while (!done() && !deadline.hasExpired());
  ASSERT_TRUE(done()) << window.lblStatus->text().toStdString() << " " << window.Curves().size();
}

QString WriteLog(testing::GuiRig& env, const char* name, const std::string& text) {
  const QString path = env.dir.path() + QLatin1Char('/') + QLatin1String(name);
  std::ofstream(path.toStdString(), std::ios::binary) << text;
  return path;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream parts(line);
  while (std::getline(parts, field, ',')) fields.push_back(field);
  if (!line.empty() && line.back() == ',') fields.push_back("");
  return fields;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

double Number(const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  EXPECT_TRUE(error == std::errc{} && end == text.data() + text.size()) << "'" << text << "'";
  return value;
}

TEST(NoiseWindowPlots, TheSmallLogsPointsAndSpectrumAreTheWorkedValues) {
  testing::GuiRig env;
  const QString log = WriteLog(env, "VIEW_1.csv", testing::kViewLog);
  frmNoise window(env.app);
  window.OpenFiles({log});
  WaitForCurves(window, 4);

  // X Gryo, 8 samples at 8 per second: 0.5 1.25 2.5 -1.75 3.125 0.5 1 2. Overlapping Allan
  // deviation at m = 1: sqrt(52.09375 / (2 x 7)) = 1.928984744 over 7 terms; at m = 2:
  // 0.618718434 over 5; at m = 4: 0.729203868 over 1.
  const QString points = env.dir.path() + QStringLiteral("/points.csv");
  ASSERT_EQ(window.ExportPoints(points), std::nullopt);
  const std::vector<std::string> lines = Lines(ReadFile(points));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Log,Column,Deviation,tau (s),m,deviation,low,high,unit,terms,alpha,noise,edf,identified by");
  // Three points for each of the four columns.
  EXPECT_EQ(lines.size(), 13u);
  struct Point {
    const char* tau;
    const char* m;
    double deviation;
    const char* terms;
  };
  const Point expected[] = {{"0.125", "1", 1.9289847440706063, "7"},
                            {"0.25", "2", 0.6187184335382291, "5"},
                            {"0.5", "4", 0.7292038680986271, "1"}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(lines[1 + i]);
    const std::vector<std::string> f = Split(lines[1 + i]);
    ASSERT_EQ(f.size(), 14u);
    EXPECT_EQ(f[0], "VIEW_1.csv");
    EXPECT_EQ(f[1], "X Gryo");
    EXPECT_EQ(f[2], "overlapping Allan deviation");
    EXPECT_EQ(f[3], expected[i].tau);
    EXPECT_EQ(f[4], expected[i].m);
    EXPECT_NEAR(Number(f[5]), expected[i].deviation, 1e-12);
    EXPECT_LT(Number(f[6]), Number(f[5]));
    EXPECT_GT(Number(f[7]), Number(f[5]));
    EXPECT_EQ(f[8], "deg/s");
    EXPECT_EQ(f[9], expected[i].terms);
    const int alpha = static_cast<int>(Number(f[10]));
    EXPECT_EQ(f[11], NoiseText(alpha));
    EXPECT_GT(Number(f[12]), 0);
  }

  // Never over the log it came from: refused, the log left as it was.
  const std::string logText = ReadFile(log);
  const std::optional<QString> refused = window.ExportPoints(log);
  ASSERT_TRUE(refused.has_value());
  EXPECT_TRUE(refused->startsWith(QStringLiteral("Cannot write ") + log)) << refused->toStdString();
  EXPECT_EQ(ReadFile(log), logText);

  // The spectrum: one Hann-windowed segment of all 8 rows, bins of 1 Hz, DC left out.
  ASSERT_EQ(window.tabPlots->count(), 2);
  EXPECT_EQ(window.tabPlots->tabText(1), QStringLiteral("Spectrum"));
  const QCPGraph* spectrum = GraphNamed(*window.plotSpectrum, QStringLiteral("X Gryo"));
  ASSERT_NE(spectrum, nullptr);
  const double density[][2] = {{1, 0.21040786110507084}, {2, 0.6563227901008855},
                               {3, 1.3708781929621694}, {4, 1.115740589192899}};
  ASSERT_EQ(spectrum->dataCount(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_DOUBLE_EQ(spectrum->data()->at(i)->key, density[i][0]);
    EXPECT_NEAR(spectrum->data()->at(i)->value, density[i][1], 1e-12) << i;
  }
  // The plot of the tab shown is the one saved.
  window.tabPlots->setCurrentWidget(window.plotSpectrum);
  const QString svg = env.dir.path() + QStringLiteral("/psd.svg");
  ASSERT_EQ(window.ExportPlot(svg), std::nullopt);
  EXPECT_NE(ReadFile(svg).find("Frequency (Hz)"), std::string::npos);
}

TEST(NoiseWindowPlots, TheTableIsExportedInFullPrecisionWithReasonsApart) {
  testing::GuiRig env;
  const QString log = WriteLog(env, "WALK_1.csv", testing::WhiteAndWalkLog(true));
  frmNoise window(env.app);
  window.OpenFiles({log});
  WaitForCurves(window, 2);
  const NoiseFigures& gyro = window.Curves().front().figures;
  ASSERT_TRUE(gyro.randomWalk.determined);
  ASSERT_FALSE(gyro.biasInstability.determined);
  ASSERT_FALSE(gyro.biasInstability.reason.empty());

  // The table: the interval and the stretch it was read from, or the reason.
  const std::string n = window.tblFigures->item(0, 1)->text().toStdString();
  EXPECT_NE(n.find(" deg/sqrt(h) (68%: "), std::string::npos) << n;
  EXPECT_NE(n.find("; tau "), std::string::npos) << n;
  EXPECT_EQ(n.substr(n.size() - 3), " s)") << n;
  EXPECT_EQ(window.tblFigures->item(0, 2)->text().toStdString(),
            "not determined: " + gyro.biasInstability.reason);

  const QString file = env.dir.path() + QStringLiteral("/table.csv");
  ASSERT_EQ(window.ExportTable(file), std::nullopt);
  const std::vector<std::string> lines = Lines(ReadFile(file));
  ASSERT_EQ(lines.size(), 3u);
  const std::vector<std::string> head = Split(lines[0]);
  ASSERT_EQ(head.size(), 39u);
  EXPECT_EQ(head[1], "N");
  EXPECT_EQ(head[9], "N not determined");
  EXPECT_EQ(head[10], "B");
  const std::vector<std::string> x = Split(lines[1]);
  ASSERT_EQ(x.size(), 39u) << lines[1];
  EXPECT_EQ(x[0], "X Gryo");
  // Every digit: the text reads back as the figure itself (x 60 to deg/sqrt(h)), and its
  // stretch of taus as the fit's.
  EXPECT_EQ(Number(x[1]), gyro.randomWalk.value * 60);
  EXPECT_GT(x[1].size(), 8u) << x[1];
  EXPECT_EQ(x[2], "deg/sqrt(h)");
  EXPECT_EQ(Number(x[5]), gyro.randomWalk.tauLow);
  EXPECT_EQ(Number(x[6]), gyro.randomWalk.tauHigh);
  EXPECT_EQ(x[9], "");
  // B not determined: no number, the reason in its own column.
  EXPECT_EQ(x[10], "");
  EXPECT_EQ(x[11], "deg/h");
  EXPECT_EQ(x[18], gyro.biasInstability.reason);
  // Nothing but numbers (or nothing) in the numeric columns of every line.
  for (size_t l = 1; l < lines.size(); ++l) {
    const std::vector<std::string> f = Split(lines[l]);
    for (size_t figure = 0; figure < 4; ++figure)
      for (size_t k : {0u, 2u, 3u, 4u, 5u, 6u}) {
        const std::string& field = f[1 + figure * 9 + k];
        if (!field.empty()) Number(field);
      }
  }
  EXPECT_EQ(x[37], "overlapping Allan deviation");
  EXPECT_EQ(x[38], "WALK_1.csv");
}

TEST(NoiseWindowPlots, AnAddedLogsCurvesAreDrawnBesideAndLabelledByFile) {
  testing::GuiRig env;
  const QString first = WriteLog(env, "VIEW_1.csv", testing::kViewLog);
  const QString second = WriteLog(env, "OTHER_1.csv", testing::kViewLog);
  frmNoise window(env.app);
  window.OpenFiles({first});
  WaitForCurves(window, 4);
  EXPECT_EQ(window.tblFigures->item(0, 0)->text(), QStringLiteral("X Gryo"));
  ASSERT_TRUE(window.cmdAddLog->isEnabled());
  const QString yaml = env.dir.path() + QStringLiteral("/imu.yaml");
  const std::optional<QString> alone = window.ExportImuYaml(yaml);
  ASSERT_TRUE(alone.has_value());

  window.AddLogFiles({second});
  WaitForCurves(window, 8);
  EXPECT_EQ(window.tblFigures->rowCount(), 8);
  EXPECT_EQ(window.tblFigures->item(0, 0)->text(), QStringLiteral("X Gryo (VIEW_1.csv)"));
  EXPECT_EQ(window.tblFigures->item(4, 0)->text(), QStringLiteral("X Gryo (OTHER_1.csv)"));
  const QCPGraph* a = GraphNamed(*window.plotNoise, QStringLiteral("X Gryo (VIEW_1.csv)"));
  const QCPGraph* b = GraphNamed(*window.plotNoise, QStringLiteral("X Gryo (OTHER_1.csv)"));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->dataCount(), b->dataCount());
  EXPECT_NE(a->pen().color(), b->pen().color());
  EXPECT_NE(GraphNamed(*window.plotSpectrum, QStringLiteral("X Gryo (OTHER_1.csv)")), nullptr);
  EXPECT_NE(window.PointsCsv().find("\r\nOTHER_1.csv,X acc,"), std::string::npos);
  EXPECT_TRUE(window.lblStatus->text().contains(QStringLiteral("; beside it OTHER_1.csv: 8 rows at 8 samples/s")))
      << window.lblStatus->text().toStdString();
  // The noise model stays the first log's alone.
  EXPECT_EQ(window.ExportImuYaml(yaml), alone);

  // The added log follows the columns chosen.
  window.lstColumns->item(0)->setCheckState(Qt::Unchecked);  // X Gryo
  WaitForCurves(window, 6);
  EXPECT_EQ(GraphNamed(*window.plotNoise, QStringLiteral("X Gryo (OTHER_1.csv)")), nullptr);
  EXPECT_NE(GraphNamed(*window.plotNoise, QStringLiteral("Y Gyro (OTHER_1.csv)")), nullptr);
  // Nothing chosen: nothing drawn, of either log.
  for (int i = 1; i < window.lstColumns->count(); ++i) window.lstColumns->item(i)->setCheckState(Qt::Unchecked);
  WaitForCurves(window, 0);
  EXPECT_EQ(window.tblFigures->rowCount(), 0);

  // Opening a log starts afresh.
  window.OpenFiles({second});
  WaitForCurves(window, 4);
  EXPECT_TRUE(window.AddedLogs().empty());
  EXPECT_EQ(window.tblFigures->rowCount(), 4);
  EXPECT_EQ(window.tblFigures->item(0, 0)->text(), QStringLiteral("X Gryo"));
}

TEST(NoiseWindowPlots, TheDataSheetBoxesKeepToTheirRulesAndDrawTheirLines) {
  testing::GuiRig env;
  frmNoise window(env.app);
  auto* n = window.findChild<QLineEdit*>(QStringLiteral("txtSheetN"));
  auto* b = window.findChild<QLineEdit*>(QStringLiteral("txtSheetB"));
  auto* kind = window.findChild<QComboBox*>(QStringLiteral("cmboSheetKind"));
  ASSERT_TRUE(n && b && kind);
  struct Case {
    const char* typed;
    const char* shown;
  };
  const Case cases[] = {{"0.3", "0.3"},   {"abc", ""},  {"-2", "0"}, {"2e7", "1000000"},
                        {"1e-3", "1e-3"}, {"", ""},     {" 5 ", " 5 "}};
  for (const Case& c : cases) {
    n->setText(QString::fromLatin1(c.typed));
    EXPECT_EQ(n->text(), QString::fromLatin1(c.shown)) << c.typed;
  }
  EXPECT_EQ(window.lblSheetNUnit->text(), QStringLiteral("deg/sqrt(h)"));
  EXPECT_EQ(window.lblSheetBUnit->text(), QStringLiteral("deg/h"));
  kind->setCurrentIndex(1);
  EXPECT_EQ(window.lblSheetNUnit->text(), QStringLiteral("m/s/sqrt(h)"));
  EXPECT_EQ(window.lblSheetBUnit->text(), QStringLiteral("mg"));
  kind->setCurrentIndex(0);

  const QString log = WriteLog(env, "VIEW_1.csv", testing::kViewLog);
  window.OpenFiles({log});
  WaitForCurves(window, 4);
  n->setText(QStringLiteral("0.3"));
  b->clear();
  EXPECT_NE(GraphNamed(*window.plotNoise, QStringLiteral("Data sheet N 0.3 deg/sqrt(h)")), nullptr);
  EXPECT_EQ(GraphNamed(*window.plotNoise, QStringLiteral("Data sheet B")), nullptr);
  b->setText(QStringLiteral("10"));
  const QCPGraph* floor = GraphNamed(*window.plotNoise, QStringLiteral("Data sheet B 10 deg/h"));
  ASSERT_NE(floor, nullptr);
  EXPECT_DOUBLE_EQ(floor->data()->at(0)->value, 0.0018444444444444446);  // 0.664 x 10 / 3600
  n->clear();
  EXPECT_EQ(GraphNamed(*window.plotNoise, QStringLiteral("Data sheet N")), nullptr);
  // A legend hidden stays hidden when the plot is drawn again.
  window.chkLegend->click();
  n->setText(QStringLiteral("0.5"));
  EXPECT_NE(GraphNamed(*window.plotNoise, QStringLiteral("Data sheet N 0.5 deg/sqrt(h)")), nullptr);
  EXPECT_FALSE(window.plotNoise->legend->visible());
  EXPECT_FALSE(window.plotSpectrum->legend->visible());
}

TEST(NoiseWindowPlots, EveryControlOfTheRowFitsA1366x768ScreenAt200Percent) {
  testing::GuiRig env;
  frmNoise window(env.app);
  window.show();
  window.resize(683, 384);  // 1366 x 768 at a scale of 2
  QCoreApplication::processEvents();
  EXPECT_LE(window.width(), 683);
  for (const char* name : {"cmdOpen", "cmdAddLog", "cmboType", "cmboGrid", "chkLegend", "cmboSheetKind",
                           "txtSheetN", "txtSheetB", "cmdExportPlot", "cmdExportTable", "cmdExportPoints",
                           "cmdExportYaml"}) {
    const QWidget* control = window.findChild<QWidget*>(QString::fromLatin1(name));
    ASSERT_NE(control, nullptr) << name;
    const QRect r(control->mapTo(&window, QPoint(0, 0)), control->size());
    EXPECT_GE(r.left(), 0) << name;
    EXPECT_LE(r.right(), window.width()) << name;
    EXPECT_TRUE(control->isVisible()) << name;
  }
  // The table in a tab of its own, as on a screen too short for it under the plots: the
  // plots then take the height the table had.
  const int plotHeight = window.plotNoise->height();
  window.PutTableInTab();
  QCoreApplication::processEvents();
  ASSERT_EQ(window.tabPlots->count(), 3);
  EXPECT_EQ(window.tabPlots->tabText(2), QStringLiteral("Figures"));
  EXPECT_EQ(window.tabPlots->widget(2), window.tblFigures);
  EXPECT_GT(window.plotNoise->height(), plotHeight);
  window.tabPlots->setCurrentIndex(2);
  QCoreApplication::processEvents();
  EXPECT_TRUE(window.tblFigures->isVisible());
}

}  // namespace
}  // namespace pemra
