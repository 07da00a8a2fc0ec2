// The noise window on a generated log of white noise and random walk: the table shows each
// figure with its 68% interval or why it is not determined, and the minimum deviation; the
// modified and Hadamard types give the same N as the overlapping one (each read with its own
// theory); imu.yaml is saved only when every figure it holds is determined.

#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

#include "gui/GuiTestSupport.h"
#include "gui/windows/frmNoise.h"
#include "support/GeneratedLog.h"

namespace pemra {
namespace {

// Until the window is idle and its status line reports `log` computed ("NAME: N rows at ...").
void WaitForWork(frmNoise& window, const QString& log) {
  QDeadlineTimer deadline(30000);
  const auto done = [&] {
    return !window.Busy() && window.lblStatus->text().startsWith(log + QStringLiteral(": ")) &&
           window.lblStatus->text().contains(QStringLiteral(" rows at "));
  };
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  } while (!done() && !deadline.hasExpired());
  ASSERT_TRUE(done()) << window.lblStatus->text().toStdString();
}

std::string Cell(const frmNoise& window, int row, int column) {
  const QTableWidgetItem* item = window.tblFigures->item(row, column);
  return item ? item->text().toStdString() : std::string();
}

TEST(NoiseWindowFigures, ShowsIntervalsAndReasonsPerTypeAndSavesOnlyAWholeNoiseModel) {
  testing::GuiRig env;
  const QString walkLog = env.dir.path() + QStringLiteral("/WALK_1.csv");
  const QString whiteLog = env.dir.path() + QStringLiteral("/WHITE_1.csv");
  std::ofstream(walkLog.toStdString(), std::ios::binary) << testing::WhiteAndWalkLog(true);
  std::ofstream(whiteLog.toStdString(), std::ios::binary) << testing::WhiteAndWalkLog(false);

  frmNoise window(env.app);
  ASSERT_EQ(window.cmboType->count(), 4);
  EXPECT_EQ(window.cmboType->itemText(3), QStringLiteral("Hadamard"));
  ASSERT_EQ(window.tblFigures->columnCount(), 5);
  EXPECT_EQ(window.tblFigures->horizontalHeaderItem(4)->text(), QStringLiteral("Minimum deviation"));

  window.OpenFiles({walkLog});
  WaitForWork(window, QStringLiteral("WALK_1.csv"));
  ASSERT_EQ(window.tblFigures->rowCount(), 2);
  EXPECT_EQ(Cell(window, 0, 0), "X Gryo");
  EXPECT_NE(Cell(window, 0, 1).find(" deg/sqrt(h) (68%: "), std::string::npos) << Cell(window, 0, 1);
  EXPECT_EQ(Cell(window, 0, 2).rfind("not determined: ", 0), 0u) << Cell(window, 0, 2);
  EXPECT_NE(Cell(window, 0, 3).find(" deg/h/sqrt(h) (68%: "), std::string::npos) << Cell(window, 0, 3);
  EXPECT_NE(Cell(window, 0, 4).find(" deg/h (68%: "), std::string::npos) << Cell(window, 0, 4);
  // N 0.05 deg/s * sqrt(0.01 s) * 60 = 0.3 deg/sqrt(h).
  const double overlapping = std::stod(Cell(window, 0, 1));
  EXPECT_NEAR(overlapping / 0.3, 1, 0.03);

  for (int type : {2, 3}) {
    window.cmboType->setCurrentIndex(type);
    WaitForWork(window, QStringLiteral("WALK_1.csv"));
    ASSERT_EQ(window.tblFigures->rowCount(), 2);
    EXPECT_NEAR(std::stod(Cell(window, 0, 1)) / overlapping, 1, 0.02)
        << window.cmboType->currentText().toStdString();
  }

  const QString yaml = env.dir.path() + QStringLiteral("/imu.yaml");
  EXPECT_EQ(window.ExportImuYaml(yaml), std::nullopt);
  QFile written(yaml);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  const std::string text = written.readAll().toStdString();
  EXPECT_NE(text.find("(overlapping Hadamard deviation; "), std::string::npos) << text;
  EXPECT_NE(text.find("\nrostopic: /imu0/data\n"), std::string::npos) << text;

  // White noise alone: no random walk, so no imu.yaml.
  window.OpenFiles({whiteLog});
  WaitForWork(window, QStringLiteral("WHITE_1.csv"));
  const QString none = env.dir.path() + QStringLiteral("/none.yaml");
  const auto refused = window.ExportImuYaml(none);
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->toStdString().find("not written: not determined from this log: "
                                        "gyroscope_random_walk (X Gryo: "),
            std::string::npos)
      << refused->toStdString();
  EXPECT_FALSE(QFile::exists(none));
}

}  // namespace
}  // namespace pemra
