// The noise window on a log of white noise of known size: the random walk exported in the
// units the table names, the warning for a log whose rows are not one per sensor sample, the legend
// that can be hidden, and a cancelled computation that keeps the result shown before.

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "gui/GuiTestSupport.h"
#include "gui/windows/frmNoise.h"

namespace pemra {
namespace {

// 4096 rows at 819.2 per second (the header's seconds) of a gyro and an accelerometer column
// of uniform noise from a fixed generator; the new-data columns hold 0 in every tenth row
// when `gaps`.
std::string WhiteLog(bool gaps) {
  std::ostringstream text;
  text << "File Name,WHITE_1.csv\r\nDate,12/07/26\r\nTime,11:00:21\r\nBegin Seconds,100\r\n"
          "End Seconds,105\r\n \r\nSample #,XgND,X Gryo,XaND,X acc,\r\n";
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 16777216.0 - 0.5;
  };
  for (int r = 0; r < 4096; ++r) {
    const int nd = gaps && r % 10 == 9 ? 0 : 1;
    text << r + 1 << ',' << nd << ',' << 0.1 * next() + 0.003 << ',' << nd << ',' << 0.002 * next() + 1
         << ",\r\n";
  }
  return text.str();
}

struct Noise {
  Noise(testing::GuiRig& env, bool gaps) : window(env.app) {
    const std::string path = env.dir.path().toStdString() + "/WHITE_1.csv";
    std::ofstream(path, std::ios::binary) << WhiteLog(gaps);
    window.show();
    window.OpenFiles({QString::fromStdString(path)});
    Wait();
  }
  void Wait() {
    QDeadlineTimer deadline(30000);
    while ((window.Busy() || window.tblFigures->rowCount() == 0) && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_FALSE(window.Busy());
  }
  frmNoise window;
};

// The fields of the table's line for `column`.
std::vector<std::string> TableLine(const std::string& csv, const std::string& column) {
  std::istringstream lines(csv);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(column + ",", 0) != 0) continue;
    std::vector<std::string> fields;
    std::istringstream parts(line);
    std::string field;
    while (std::getline(parts, field, ',')) fields.push_back(field);
    return fields;
  }
  return {};
}

TEST(NoiseWindow, TheTableIsExportedInTheUnitsItNames) {
  testing::GuiRig env;
  Noise n(env, false);
  ASSERT_EQ(n.window.tblFigures->rowCount(), 2) << n.window.lblStatus->text().toStdString();
  // Uniform noise of width w has deviation w / sqrt(12); white noise sampled at 819.2 per
  // second has N = deviation / sqrt(819.2 /s). X Gryo: w = 0.1 deg/s, N = 0.00100859
  // deg/s/sqrt(Hz) = 0.060515 deg/sqrt(h) (x 60). X acc: w = 0.002 g, N = 2.01717e-5
  // g/sqrt(Hz) = 0.011869 m/s/sqrt(h) (x 9.80665 x 60).
  struct Case {
    const char* column;
    const char* unit;
    double n;
  };
  const Case cases[] = {{"X Gryo", "deg/sqrt(h)", 0.060515}, {"X acc", "m/s/sqrt(h)", 0.011869}};
  const std::string csv = n.window.TableCsv();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    const std::vector<std::string> fields = TableLine(csv, c.column);
    ASSERT_GE(fields.size(), 3u) << csv;
    EXPECT_EQ(fields[2], c.unit);
    EXPECT_NEAR(std::stod(fields[1]), c.n, c.n * 0.1) << csv;
  }
  // No warning for rows that are one per sensor sample.
  EXPECT_FALSE(n.window.lblStatus->text().contains(QStringLiteral("sensor sample")));
}

TEST(NoiseWindow, WarnsOnceWhenRowsAreNotOnePerSensorSample) {
  testing::GuiRig env;
  Noise n(env, true);
  const QString status = n.window.lblStatus->text();
  EXPECT_TRUE(status.contains(QStringLiteral("column XgND holds 0 in 409 of 4096 rows: the rows are not one per "
                                             "sensor sample")))
      << status.toStdString();
  EXPECT_TRUE(status.contains(QStringLiteral("(the same in 1 more column)"))) << status.toStdString();
  EXPECT_FALSE(status.contains(QStringLiteral("XaND"))) << status.toStdString();
  EXPECT_TRUE(n.window.lblStatus->toolTip().contains(QStringLiteral("column XaND holds 0 in 409")));
}

TEST(NoiseWindow, ACancelKeepsTheResultShownBefore) {
  testing::GuiRig env;
  Noise n(env, false);
  const int points = n.window.plotNoise->graph(0)->dataCount();
  ASSERT_GT(points, 5);
  n.window.chkLegend->click();
  EXPECT_FALSE(n.window.plotNoise->legend->visible());

  n.window.cmboGrid->setCurrentIndex(2);  // every tau: 2047 averaging factors
  ASSERT_TRUE(n.window.Busy());
  n.window.cmdCancel->click();
  n.Wait();
  EXPECT_EQ(n.window.tblFigures->rowCount(), 2);
  EXPECT_EQ(n.window.plotNoise->graph(0)->dataCount(), points);
  EXPECT_EQ(n.window.cmboGrid->currentIndex(), 0);  // the choice the result was made with
  EXPECT_TRUE(n.window.cmdExportTable->isEnabled());
  EXPECT_TRUE(n.window.cmdExportPlot->isEnabled());
  EXPECT_GE(n.window.plotNoise->graphCount(), 2);
  EXPECT_TRUE(n.window.lblStatus->text().startsWith(QStringLiteral("Cancelled after")))
      << n.window.lblStatus->text().toStdString();
}

}  // namespace
}  // namespace pemra
