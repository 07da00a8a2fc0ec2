// The datalog window's "One row per sensor sample (burst read)": off by default; on, every
// sensor sample once.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

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
  EXPECT_TRUE(status.contains(QStringLiteral("\nSamples missed (estimated): 0    Longest gap: ")))
      << status.toStdString();
  EXPECT_TRUE(status.contains(QStringLiteral(" ms after row "))) << status.toStdString();
  EXPECT_TRUE(status.contains(QStringLiteral("\nCapture priority: normal"))) << status.toStdString();
  EXPECT_EQ(g.form->findChild<QLabel*>(QStringLiteral("lblCapturePriority"))->text(),
            QStringLiteral("Capture: normal"));
  EXPECT_TRUE(g.messages.messages.empty());
}

}  // namespace
}  // namespace pemra
