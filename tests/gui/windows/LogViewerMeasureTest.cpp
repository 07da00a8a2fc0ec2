// Measuring in the log viewer: the two cursors (dragged with the mouse) and the values,
// difference and statistics between them, the stretch handed to the noise window, the CSV
// export of that stretch with the log's own sample numbers, exports refused with nothing
// checked, the keyboard, the hover read-out that follows the log, the rate field of a log
// without times, and the noise window's own checks.

#include <QCheckBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest/QTest>

#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <fstream>

#include "analysis/RowSelection.h"
#include "gui/GuiTestSupport.h"
#include "gui/windows/ViewLog.h"
#include "gui/windows/frmLogViewer.h"
#include "gui/windows/frmNoise.h"

namespace pemra {
namespace {

constexpr const char* kLog = testing::kViewLog;

template <class W>
void WaitUntilIdle(const W& window, const std::function<bool()>& busy) {
  QDeadlineTimer deadline(20000);
  while (busy() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_FALSE(busy());
  (void)window;
}

struct Viewer {
  explicit Viewer(testing::GuiRig& env, const std::string& name = "VIEW_1.csv", const char* text = kLog)
      : window(env.app) {
    path = env.dir.path() + QStringLiteral("/") + QString::fromStdString(name);
    std::ofstream(path.toStdString(), std::ios::binary) << text;
    window.show();
    window.resize(1100, 700);
    Open(path);
  }
  void Open(const QString& file) {
    window.OpenFiles({file});
    WaitUntilIdle(window, [this] { return window.Reading(); });
  }
  void Check(std::initializer_list<int> items) {
    for (int i = 0; i < window.lstColumns->count(); ++i)
      window.lstColumns->item(i)->setCheckState(std::find(items.begin(), items.end(), i) != items.end()
                                                    ? Qt::Checked
                                                    : Qt::Unchecked);
  }
  QPoint PixelOf(double seconds, QCPAxisRect* rect = nullptr) {
    window.plotLog->replot();
    if (rect == nullptr) rect = window.plotLog->axisRect();
    return QPoint(static_cast<int>(std::lround(window.plotLog->xAxis->coordToPixel(seconds))),
                  rect->center().y());
  }
  QString Cell(int row, const char* heading) {
    for (int c = 0; c < window.tblStatistics->columnCount(); ++c)
      if (window.tblStatistics->horizontalHeaderItem(c)->text() == QLatin1String(heading))
        return window.tblStatistics->item(row, c)->text();
    return QStringLiteral("no column ") + QLatin1String(heading);
  }

  frmLogViewer window;
  QString path;
};

TEST(LogViewerMeasure, CursorsGiveValuesDifferenceAndStatisticsBetweenThem) {
  testing::GuiRig env;
  Viewer v(env);
  ASSERT_NE(v.window.Log(), nullptr) << v.window.lblStatus->text().toStdString();
  v.Check({0, 3});
  v.window.cmdResetView->click();
  // Cursors at a quarter and three quarters of 0..0.875 s, on the nearest rows.
  v.window.chkCursors->click();
  EXPECT_EQ(v.window.CursorTime(0), 0.25);
  EXPECT_EQ(v.window.CursorTime(1), 0.625);
  // Cursor 2 dragged from 0.625 s to 0.5 s.
  QTest::mousePress(v.window.plotLog, Qt::LeftButton, {}, v.PixelOf(0.625));
  QTest::mouseMove(v.window.plotLog, v.PixelOf(0.5));
  QTest::mouseRelease(v.window.plotLog, Qt::LeftButton, {}, v.PixelOf(0.5));
  EXPECT_EQ(v.window.CursorTime(1), 0.5);
  EXPECT_EQ(v.window.plotLog->xAxis->range(), QCPRange(0, 0.875));  // the drag did not pan
  EXPECT_EQ(v.window.Stretch(), (RowRange{2, 3}));
  EXPECT_EQ(v.window.lblCursors->text(),
            QStringLiteral("Cursor 1: 0.25 s (row 3)   Cursor 2: 0.5 s (row 5)   Difference: 0.25 s "
                           "(1/dt = 4 Hz)   3 rows between"));

  // Rows 3 to 5. X Gryo 2.5, -1.75, 3.125: mean 3.875 / 3, sample deviation
  // sqrt(14.072917 / 2), RMS sqrt(19.078125 / 3). X acc 0.5, 0.25, -0.125.
  struct Row {
    const char *column, *at1, *at2, *difference, *mean, *deviation, *rms, *min, *max;
  };
  const Row rows[] = {
      {"X Gryo", "2.5", "3.125", "0.625", "1.291667", "2.652632", "2.52178", "-1.75", "3.125"},
      {"X acc", "0.5", "-0.125", "-0.625", "0.2083333", "0.3145764", "0.3307189", "-0.125", "0.5"},
  };
  ASSERT_EQ(v.window.tblStatistics->rowCount(), 2);
  for (int r = 0; r < 2; ++r) {
    SCOPED_TRACE(rows[r].column);
    EXPECT_EQ(v.Cell(r, "Column"), QLatin1String(rows[r].column));
    EXPECT_EQ(v.Cell(r, "At 1"), QLatin1String(rows[r].at1));
    EXPECT_EQ(v.Cell(r, "At 2"), QLatin1String(rows[r].at2));
    EXPECT_EQ(v.Cell(r, "Difference"), QLatin1String(rows[r].difference));
    EXPECT_EQ(v.Cell(r, "Mean"), QLatin1String(rows[r].mean));
    EXPECT_EQ(v.Cell(r, "Std Dev"), QLatin1String(rows[r].deviation));
    EXPECT_EQ(v.Cell(r, "RMS"), QLatin1String(rows[r].rms));
    EXPECT_EQ(v.Cell(r, "Min"), QLatin1String(rows[r].min));
    EXPECT_EQ(v.Cell(r, "Max"), QLatin1String(rows[r].max));
  }

  // The stretch between the cursors as CSV: each row keeps its sample number in the log.
  const QString csv = env.dir.path() + QStringLiteral("/stretch.csv");
  ASSERT_FALSE(v.window.ExportCsv(csv));
  WaitUntilIdle(v.window, [&] { return v.window.Reading(); });
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << v.window.lblStatus->text().toStdString();
  EXPECT_EQ(file.readAll().toStdString(),
            "Sample #,Time (sec),X Gryo,X acc,\r\n3,0.25,2.5,0.5,\r\n4,0.375,-1.75,0.25,\r\n"
            "5,0.5,3.125,-0.125,\r\n");

  // Nothing checked: nothing to export, and nothing written.
  v.Check({});
  const QString none = env.dir.path() + QStringLiteral("/none.csv");
  const QString picture = env.dir.path() + QStringLiteral("/none.png");
  EXPECT_EQ(v.window.ExportCsv(none), QStringLiteral("No column checked: check the columns to export."));
  EXPECT_EQ(v.window.ExportPlot(picture), QStringLiteral("No column checked: check the columns to export."));
  EXPECT_FALSE(QFile::exists(none));
  EXPECT_FALSE(QFile::exists(picture));
}

TEST(LogViewerMeasure, TheStretchGoesToTheNoiseWindow) {
  testing::GuiRig env;
  env.Form();  // the window openers
  Viewer v(env);
  v.window.chkCursors->click();
  v.window.SetCursor(0, 0.125);
  v.window.SetCursor(1, 0.75);
  v.window.cmdNoise->click();
  auto* noise = v.window.findChild<frmNoise*>();
  ASSERT_NE(noise, nullptr);
  WaitUntilIdle(*noise, [&] { return noise->Busy(); });
  EXPECT_EQ(noise->Rows(), (RowRange{1, 6}));
  EXPECT_TRUE(noise->lblStatus->text().startsWith(
      QStringLiteral("VIEW_1.csv: rows 2 to 7 of 8 (0.125 s to 0.75 s), 6 rows at 8 samples/s")))
      << noise->lblStatus->text().toStdString();
  // The curve has the taus six rows allow: 0.125 s and 0.25 s (m = 1, 2).
  ASSERT_GE(noise->plotNoise->graphCount(), 1);
  EXPECT_EQ(noise->plotNoise->graph(0)->dataCount(), 2);

  // Closed, the viewer gives the log back: nothing else analyses it unasked.
  v.window.close();
  EXPECT_EQ(env.app.openLog, nullptr);
  EXPECT_EQ(v.window.Log(), nullptr);
}

TEST(LogViewerMeasure, KeyboardPansZoomsAndResets) {
  testing::GuiRig env;
  Viewer v(env);
  v.window.plotLog->setFocus();
  struct Step {
    int key;
    double lower, upper;
  };
  const Step steps[] = {
      {Qt::Key_Plus, 0.21875, 0.65625},  // half the width about the centre
      {Qt::Key_Right, 0.2625, 0.7},      // a tenth of it on
      {Qt::Key_Left, 0.21875, 0.65625},
      {Qt::Key_PageDown, 0.65625, 1.09375},
      {Qt::Key_Minus, 0.4375, 1.3125},
      {Qt::Key_Home, 0, 0.875},
  };
  for (const Step& s : steps) {
    QTest::keyClick(v.window.plotLog, static_cast<Qt::Key>(s.key));
    const QCPRange r = v.window.plotLog->xAxis->range();
    EXPECT_NEAR(r.lower, s.lower, 1e-12) << s.key;
    EXPECT_NEAR(r.upper, s.upper, 1e-12) << s.key;
  }
  // Tab leaves the statistics table at once instead of walking its cells.
  v.Check({0, 1, 2, 3});
  QApplication::setActiveWindow(&v.window);
  v.window.tblStatistics->setFocus();
  ASSERT_TRUE(v.window.tblStatistics->hasFocus());
  QTest::keyClick(v.window.tblStatistics, Qt::Key_Tab);
  EXPECT_FALSE(v.window.tblStatistics->hasFocus());
}

TEST(LogViewerMeasure, TheHoverReadOutFollowsTheLogAndItsColumns) {
  testing::GuiRig env;
  Viewer v(env);
  v.Check({0, 3});
  QTest::mouseMove(v.window.plotLog, v.PixelOf(0.375));
  EXPECT_EQ(v.window.lblCursor->text(), QStringLiteral("t = 0.375 s (row 4)   X Gryo -1.75   X acc 0.25"));
  v.Check({3});  // a column unchecked leaves the read-out at once
  EXPECT_EQ(v.window.lblCursor->text(), QStringLiteral("t = 0.375 s (row 4)   X acc 0.25"));
  // Another log, shorter: nothing of the first is read out.
  const QString shortLog = env.dir.path() + QStringLiteral("/SHORT_1.csv");
  std::ofstream(shortLog.toStdString(), std::ios::binary)
      << "Sample #,Time (sec),X Gryo,\r\n1,0,7,\r\n2,0.5,8,\r\n3,1,9,\r\n";
  v.Open(shortLog);
  EXPECT_TRUE(v.window.lblStatus->text().startsWith(QStringLiteral("SHORT_1.csv: 3 rows")))
      << v.window.lblStatus->text().toStdString();
  EXPECT_EQ(v.window.lblCursor->text(), QString());
}

TEST(LogViewerMeasure, ALogWithoutTimesTakesARate) {
  testing::GuiRig env;
  Viewer v(env, "PLAIN_1.csv", "Sample #,X Gryo,\r\n1,0.5,\r\n2,0.25,\r\n3,0.75,\r\n4,1.5,\r\n");
  ASSERT_NE(v.window.Log(), nullptr);
  EXPECT_FALSE(v.window.txtRate->isHidden());
  EXPECT_EQ(v.window.plotLog->xAxis->label(), QStringLiteral("Row"));
  v.window.txtRate->setFocus();
  QTest::keyClicks(v.window.txtRate, QStringLiteral("2"));
  QTest::keyClick(v.window.txtRate, Qt::Key_Return);
  EXPECT_EQ(v.window.plotLog->xAxis->label(), QStringLiteral("Time (s)"));
  EXPECT_EQ(v.window.plotLog->xAxis->range(), QCPRange(0, 1.5));  // 4 rows at 2 per second
  EXPECT_TRUE(v.window.lblStatus->text().contains(QStringLiteral("2 samples/s (given)")))
      << v.window.lblStatus->text().toStdString();
}

TEST(LogViewerMeasure, RawColumnsAreStackedAsRegisterValues) {
  testing::GuiRig env;
  Viewer v(env, "RAW_1.csv",
           "Sample #,X Gryo,X acc,X Temp,\r\n1,16,-3,25.5,\r\n2,17,-2,25.25,\r\n3,15,-4,25.5,\r\n");
  ASSERT_NE(v.window.Log(), nullptr);
  EXPECT_EQ(v.window.lstColumns->item(0)->text(), QStringLiteral("X Gryo (LSB)"));
  EXPECT_EQ(v.window.lstColumns->item(1)->text(), QStringLiteral("X acc (LSB)"));
  v.Check({0, 1, 2});
  EXPECT_EQ(v.Cell(0, "Unit"), QStringLiteral("LSB"));
  EXPECT_EQ(v.window.plotLog->axisRectCount(), 2);
  EXPECT_EQ(v.window.plotLog->axisRect(0)->axis(QCPAxis::atLeft)->label(), QStringLiteral("Raw (LSB)"));
  EXPECT_EQ(v.window.plotLog->axisRect(1)->axis(QCPAxis::atLeft)->label(), QStringLiteral("Temperature (degC)"));
  // Each stack, new with the columns checked, shows what its columns hold.
  const QCPRange raw = v.window.plotLog->axisRect(0)->axis(QCPAxis::atLeft)->range();
  const QCPRange temperature = v.window.plotLog->axisRect(1)->axis(QCPAxis::atLeft)->range();
  EXPECT_TRUE(raw.lower <= -4 && raw.upper >= 17 && raw.upper < 25) << raw.lower << " " << raw.upper;
  EXPECT_TRUE(temperature.lower <= 25.25 && temperature.upper >= 25.5 && temperature.lower > 20)
      << temperature.lower << " " << temperature.upper;
}

}  // namespace
}  // namespace pemra
