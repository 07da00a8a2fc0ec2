// The datalog window's "One row per sensor sample (burst read)": off by default; on, every
// sensor sample once.

#include <QCheckBox>
#include <QCoreApplication>
#include <QScreen>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "datalog/DatalogTestSupport.h"
#include "gui/GuiTestSupport.h"
#include "gui/windows/frmDatalog.h"

namespace pemra {
namespace {

TEST(frmDatalogBurst, EverySensorSampleOnceWhenChecked) {
  testing::GuiRig g(testing::PatternRig());
  g.Load(2);
  ClockTimeOfDay day{g.clock, 36000.0, "12/7/2026", "10:00:01"};
  frmDatalog w(g.app, g.form.get(), &day);
  EXPECT_EQ(w.ckBurst->text(), QStringLiteral("One row per sensor sample (burst read)"));
  EXPECT_FALSE(w.ckBurst->isChecked());
  for (QCheckBox* box : {w.ckBurst, w.ckNOHeader, w.ckNOScale, w.ckDisableND}) {
    box->setChecked(true);
  }
  w.txtSamplesPerFile->setText(QStringLiteral("200"));
  bool disabledDuringRun = false;
  QTimer::singleShot(0, &w, [&] { disabledDuringRun = !w.ckBurst->isEnabled(); });
  w.cmdStartDatalog->click();
  EXPECT_TRUE(disabledDuringRun && w.ckBurst->isEnabled());

  // Rows "i,supply,": the supply is the sample number modulo 4096 in the test pattern.
  const std::string file = testing::ReadWholeFile(g.app.options.dataDir / "DATALOG_1.csv");
  const int first = std::stoi(file.substr(2));
  EXPECT_TRUE(file.ends_with("\r\n200," + std::to_string((first + 199) % 4096) + ",\r\n"));
  // What was lost, when, and the capture's priority (on the test clock it runs on the GUI
  // thread, as it is) are said in the window and in the main window's status bar.
  const QString status = w.lblRunStatus->text();
  EXPECT_TRUE(status.contains(
      QStringLiteral("\nSamples missed (estimated): 0    Torn rows: 0    Longest gap: ")))
      << status.toStdString();
  EXPECT_TRUE(status.contains(QStringLiteral(" ms after row "))) << status.toStdString();
  EXPECT_TRUE(status.contains(QStringLiteral("\nCapture priority: normal"))) << status.toStdString();
  EXPECT_EQ(g.form->findChild<QLabel*>(QStringLiteral("lblCapturePriority"))->text(),
            QStringLiteral("Capture: normal"));
  EXPECT_TRUE(g.messages.messages.empty());
}

// At 100% on the screen the window opens on, the end-of-run summary (samples missed, longest
// gap, priority) is whole in view when the run ends: on the screen, inside the window and
// not scrolled away, every line of it.
TEST(frmDatalogBurst, EndOfRunSummaryIsInViewWhenTheRunEnds) {
  testing::GuiRig g(testing::PatternRig());
  g.Load(2);
  ClockTimeOfDay day{g.clock, 36000.0, "12/7/2026", "10:00:01"};
  for (const int height : {0, 300}) {  // as it opens; lower than its content (a small screen)
    SCOPED_TRACE(height);
    frmDatalog w(g.app, g.form.get(), &day);
    w.show();
    if (height > 0) w.resize(w.width(), height);
    QCoreApplication::processEvents();
    w.ckBurst->setChecked(true);
    w.txtSamplesPerFile->setText(QStringLiteral("50"));
    w.cmdStartDatalog->click();
    QCoreApplication::processEvents();
    QLabel* summary = w.lblRunStatus;
    ASSERT_TRUE(summary->text().contains(QStringLiteral("Longest gap: "))) << summary->text().toStdString();
    ASSERT_NE(w.screen(), nullptr);
    const QRect screen = w.screen()->availableGeometry();
    const QRect window(w.mapToGlobal(QPoint(0, 0)), w.size());
    EXPECT_TRUE(screen.contains(window)) << "window " << window.y() << "+" << window.height()
                                         << " on a screen " << screen.height() << " high";
    // What of the label is not clipped by the scroll area and the window, in its own pixels.
    const QRect shown = summary->visibleRegion().boundingRect();
    const int needed = summary->heightForWidth(summary->width());
    EXPECT_GE(summary->height(), needed);
    EXPECT_EQ(shown.top(), 0);
    EXPECT_GE(shown.height(), needed) << "visible " << shown.height() << " of " << needed;
    const QRect global(summary->mapToGlobal(shown.topLeft()), shown.size());
    EXPECT_TRUE(window.contains(global));
  }
}

// On the FT232H the window says how the bursts were paced: by the data-ready line, or by the
// flag with the way to wire the line. The window's default channel alone makes a burst of
// three frames, so the queue is the longest there is.
TEST(frmDatalogBurst, TheFt232hPacingIsSaid) {
  struct Case {
    bool wired;
    QString pacing;
  } const cases[] = {
      {true, QStringLiteral("\nPacing: hardware-paced on the data-ready line (DI/O1 to "
                            "ADBUS5/GPIOL1), 64 bursts queued\nCapture priority: ")},
      {false, QStringLiteral("\nPacing: data-ready line not found on ADBUS5 (GPIOL1): bursts "
                             "paced by polling the new-data flag; for hardware-paced capture "
                             "wire the sensor's DI/O1 to ADBUS5 (GPIOL1)\nCapture priority: ")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wired);
    sim::RigOptions options = testing::PatternRig();
    options.ftdiBoards[0].dataReadyWired = c.wired;
    testing::GuiRig g(options);
    g.Load(kInterfaceFtdi);
    ClockTimeOfDay day{g.clock, 36000.0, "12/7/2026", "10:00:01"};
    frmDatalog w(g.app, g.form.get(), &day);
    for (QCheckBox* box : {w.ckBurst, w.ckNOHeader, w.ckNOScale}) box->setChecked(true);
    w.txtSamplesPerFile->setText(QStringLiteral("100"));
    w.cmdStartDatalog->click();
    const QString status = w.lblRunStatus->text();
    EXPECT_TRUE(status.contains(QStringLiteral("\nSamples missed (estimated): 0    Torn rows: 0")))
        << status.toStdString();
    EXPECT_TRUE(status.contains(c.pacing)) << status.toStdString();
    EXPECT_TRUE(g.messages.messages.empty());
  }
}

// In burst mode the time column is the monotonic time since the file began, to the
// microsecond: one sensor period (1/819.2 s) from row to row, never the same twice.
TEST(frmDatalogBurst, TimeColumnIsTheElapsedTimeWithSixDecimals) {
  testing::GuiRig g(testing::PatternRig());
  g.Load(2);
  ClockTimeOfDay day{g.clock, 36000.0, "12/7/2026", "10:00:01"};
  frmDatalog w(g.app, g.form.get(), &day);
  for (QCheckBox* box : {w.ckBurst, w.ckNOHeader, w.ckTime}) box->setChecked(true);
  w.txtSamplesPerFile->setText(QStringLiteral("50"));
  w.cmdStartDatalog->click();
  std::istringstream file(testing::ReadWholeFile(g.app.options.dataDir / "DATALOG_1.csv"));
  const std::regex row(R"(\d+,(\d+\.\d{6}),1,[0-9.]+,\r)");
  double previous = -1;
  int rows = 0;
  for (std::string line; std::getline(file, line); ++rows) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, row)) << line;
    const double seconds = std::stod(match[1]);
    if (previous < 0) {
      EXPECT_LT(seconds, 0.0013) << line;
    } else {
      EXPECT_NEAR(seconds - previous, 1 / 819.2, 0.00031) << line;
    }
    previous = seconds;
  }
  EXPECT_EQ(rows, 50);
}


// On 21410 the Y gyro register never flags new data: a burst of it alone is paced by an
// output the model has, and logs its every row.
TEST(frmDatalogBurst, AChannelThatNeverHasNewDataIsPacedByAnOutputTheModelHas) {
  testing::GuiRig g(testing::PatternRig(21410));
  g.Load(2, 21410);
  ClockTimeOfDay day{g.clock, 36000.0, "12/7/2026", "10:00:01"};
  frmDatalog w(g.app, g.form.get(), &day);
  w.ckBurst->setChecked(true);
  w.CheckReg[1]->setChecked(false);
  w.CheckReg[3]->setChecked(true);
  w.txtSamplesPerFile->setText(QStringLiteral("20"));
  w.cmdStartDatalog->click();
  EXPECT_FALSE(g.HasMessage("No new data from YGYRO_OUT: the burst read stopped."));
  EXPECT_EQ(w.LastResult().end, LogEnd::Completed);
  EXPECT_EQ(w.LastResult().rowsWritten, 20);
}

}  // namespace
}  // namespace pemra
