// The datalog window's "One row per sensor sample (burst read)": off by default, as
// described (the loop takes the same sample again while the test clock stands); on, every
// sensor sample once.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <sstream>

#include "app/GuiTestSupport.h"
#include "datalog/DatalogTestSupport.h"
#include "datalog/frmDatalog.h"

namespace pemra {
namespace {

// Supply values (the sample number modulo 4096 in the test pattern) of a raw log's rows.
std::vector<int> Samples(const std::string& file) {
  std::vector<int> samples;
  std::istringstream lines(file);
  for (std::string line; std::getline(lines, line);) {
    samples.push_back(std::stoi(line.substr(line.find(',') + 1)));
  }
  return samples;
}

TEST(frmDatalogBurst, EverySensorSampleOnceWhenCheckedTheDescribedLogOtherwise) {
  for (const bool burst : {false, true}) {
    testing::GuiRig g(testing::PatternRig());
    g.Load(2);
    ClockTimeOfDay day{g.clock, 36000.0, "12/7/2026", "10:00:01"};
    frmDatalog w(g.app, g.form.get(), &day);
    w.show();
    ASSERT_EQ(w.ckBurst->text(), QStringLiteral("One row per sensor sample (burst read)"));
    EXPECT_FALSE(w.ckBurst->isChecked());
    w.ckBurst->setChecked(burst);
    w.ckNOHeader->setChecked(true);
    w.ckNOScale->setChecked(true);
    w.ckDisableND->setChecked(true);
    w.txtSamplesPerFile->setText(QStringLiteral("200"));
    bool disabledDuringRun = false;
    QTimer::singleShot(0, &w, [&] { disabledDuringRun = !w.ckBurst->isEnabled(); });
    w.cmdStartDatalog->click();
    EXPECT_TRUE(disabledDuringRun);
    EXPECT_TRUE(w.ckBurst->isEnabled());

    const std::vector<int> samples =
        Samples(testing::ReadWholeFile(g.app.options.dataDir / "DATALOG_1.csv"));
    ASSERT_EQ(samples.size(), 200u);
    int repeats = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
      if (burst) {
        EXPECT_EQ(samples[i], (samples[i - 1] + 1) % 4096) << i;
      }
      repeats += samples[i] == samples[i - 1];
    }
    EXPECT_EQ(repeats > 0, !burst);
    EXPECT_EQ(w.lblRunStatus->text().contains(QStringLiteral("Samples missed (estimated): 0")),
              burst);
    EXPECT_TRUE(g.messages.messages.empty());
  }
}

}  // namespace
}  // namespace pemra
