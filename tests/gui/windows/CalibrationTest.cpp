// The calibration window on the simulated sensor: offsets in units against the codes the
// sensor holds, the 21410 rows, and the calibration commands with their waits.

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "OpsTestSupport.h"
#include "core/NumberText.h"
#include "core/OffsetCalibration.h"
#include "core/RegisterTable.h"
#include "core/Timing.h"
#include "gui/main/SignalClose.h"
#include "gui/windows/fmCalibration.h"

namespace pemra {
namespace {

using Rig = testing::OpsRig<fmCalibration>;
using testing::TypeInto;
using std::chrono::milliseconds;

// The offset code the sensor holds, sign-converted at the register's width.
int32_t SensorCode(Rig& env, int row) {
  const RegisterEntry& entry = env.session.table[kOffsetRows[size_t(row)].index];
  return ConvertRaw(entry, env.SensorWord(kOffsetRows[size_t(row)].index));
}

TEST(Calibration, OffsetUpdateWritesTheRoundedCodeWithinTheLimits) {
  const struct {
    int row;
    const char* typed;
    int32_t code;
    const char* shown;
    const char* hex;
  } cases[] = {
      {0, "40", 2047, "37.490805", "07FF"},     {0, "-0.01", -1, "-0.018315", "FFFF"},
      {0, "0.0091575", 0, "0", "0000"},         {0, "0.0274725", 2, "0.03663", "0002"},
      {1, "-1e999", -2048, "-37.50912", "F800"}, {2, "nan", 0, "0", "0000"},
      {3, "abc", 0, "0", "0000"},               {4, "0.1", 40, "0.10088", "0028"},
      {5, "-6", -2048, "-5.165056", "F800"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.row) + " " + c.typed);
    Rig env;
    fmCalibration& w = env.Open();
    TypeInto(w.txt[size_t(c.row)], QString::fromLatin1(c.typed));
    w.cmdCal[size_t(c.row)]->click();
    EXPECT_EQ(SensorCode(env, c.row), c.code);
    EXPECT_EQ(w.txt[size_t(c.row)]->text().toStdString(), c.shown);
    EXPECT_EQ(w.lbl[size_t(c.row)]->text().toStdString(), c.hex);
  }
}

TEST(Calibration, LoadShowsTheSensorsOffsetsInUnits) {
  Rig env;
  env.SetSensorWord(reg::XGYRO_OFF, 0x1000);  // 13 bits: -4096, beyond what Update accepts
  env.SetSensorWord(reg::ZACCL_OFF, 0x0005);
  fmCalibration& w = env.Open();
  EXPECT_EQ(w.txt[0]->text(), QStringLiteral("-75.01824"));
  EXPECT_EQ(w.lbl[0]->text(), QStringLiteral("F000"));
  EXPECT_EQ(w.txt[5]->text(), QStringLiteral("0.01261"));
  EXPECT_EQ(w.lbl[5]->text(), QStringLiteral("0005"));
  EXPECT_TRUE(w.LbLInProgress->isHidden());
  EXPECT_EQ(w.pos(), env.form->frameGeometry().topLeft());
}

TEST(Calibration, SingleGyroModelHidesTheYAndZGyroRows) {
  for (int16_t model : {21410, 21420}) {
    Rig env(1, model);
    fmCalibration& w = env.Open();
    for (int row = 0; row < fmCalibration::kRows; ++row) {
      const bool hidden = model == 21410 && (row == 1 || row == 2);
      EXPECT_EQ(w.txt[size_t(row)]->isHidden(), hidden) << model << " row " << row;
      EXPECT_EQ(w.cmdCal[size_t(row)]->isHidden(), hidden) << model << " row " << row;
      EXPECT_EQ(w.lbl[size_t(row)]->isHidden(), hidden) << model << " row " << row;
    }
    // The rows' captions go with them: one visible "deg / sec" and one gyro "Y-Axis Offset"
    // fewer than the accelerometers' on the single-gyro model.
    const struct {
      const char* caption;
      int visible;  // on 21410; three more or one more on the other models
      int others;
    } captions[] = {{"deg / sec", 1, 3}, {"g", 3, 3}, {"X-Axis Offset", 2, 2},
                    {"Y-Axis Offset", 1, 2}, {"Z-Axis Offset", 1, 2}};
    for (const auto& c : captions) {
      int visible = 0;
      for (const QLabel* label : w.findChildren<QLabel*>()) {
        visible += label->text() == QLatin1String(c.caption) && !label->isHidden();
      }
      EXPECT_EQ(visible, model == 21410 ? c.visible : c.others) << model << " " << c.caption;
    }
  }
}

TEST(Calibration, EachCommandWritesItsCodeAndWaitsItsOwnTime) {
  const struct {
    const char* button;
    int32_t word;  // written to COMMAND, or the row's code to its register
    int16_t index;
    int waitedMs;
  } cases[] = {{"cmdAutoNull", 1, reg::COMMAND, 250},
               {"cmdFactoryCal", 2, reg::COMMAND, 250},
               {"cmdFlash", 8, reg::COMMAND, 200},
               {"cmdCal_AY", -4, reg::YACCL_OFF, 100}};  // -0.01 g
  for (const auto& c : cases) {
    testing::GuiFake env;
    env.Load(1);
    fmCalibration w(env.app, env.form.get());
    w.show();
    env.clock.ClearWaits();
    env.fake.frames.clear();
    w.txt[4]->setText(QStringLiteral("-0.01"));
    w.findChild<QPushButton*>(QString::fromLatin1(c.button))->click();
    const int address = env.session.table[c.index].RegAddress;
    // The high byte to the odd address, then the low byte to the even one.
    ASSERT_GE(env.fake.frames.size(), 2u) << c.button;
    EXPECT_EQ(env.fake.frames[0], 0x8000 + (address + 1) * 256 + ((c.word >> 8) & 0xFF))
        << c.button;
    EXPECT_EQ(env.fake.frames[1], 0x8000 + address * 256 + (c.word & 0xFF)) << c.button;
    Nanoseconds waited{0};
    for (Nanoseconds wait : env.clock.Waits()) {
      if (wait >= milliseconds(1)) waited += wait;
    }
    EXPECT_EQ(waited, milliseconds(c.waitedMs)) << c.button;
  }
}

TEST(Calibration, AutoNullAndFactoryRestoreAreReadBackAfterTheirWait) {
  Rig env;
  fmCalibration& w = env.Open();
  w.cmdAutoNull->click();
  EXPECT_NE(SensorCode(env, 0), 0);  // the rig's gyros have a bias to null
  for (int row = 0; row < fmCalibration::kRows; ++row) {
    EXPECT_EQ(w.lbl[size_t(row)]->text().toStdString(), NumberToHex(SensorCode(env, row)));
  }
  w.cmdFactoryCal->click();
  for (int row = 0; row < fmCalibration::kRows; ++row) {
    EXPECT_EQ(SensorCode(env, row), 0);
    EXPECT_EQ(w.txt[size_t(row)]->text(), QStringLiteral("0"));
  }
}

TEST(Calibration, PrecisionAutoNullCountsDown33SecondsWithTheControlsDisabled) {
  Rig env;
  fmCalibration& w = env.Open();
  EXPECT_EQ(w.LbLInProgress->text(), QStringLiteral("  In Progress"));
  std::vector<QString> captions;
  bool enabledDuringCountdown = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!w.PrecisionAutoNullRunning()) return;
    if (captions.empty() || captions.back() != w.LbLInProgress->text()) {
      captions.push_back(w.LbLInProgress->text());
    }
    enabledDuringCountdown |= w.cmdClose->isEnabled() || w.txt[0]->isEnabled() ||
                              w.cmdAutoNull->isEnabled() || w.cmdCal[5]->isEnabled();
    w.close();  // the close box is ignored until the countdown ends
  });
  watch.start(0);
  w.cmdPreciAutoNull->click();
  watch.stop();

  ASSERT_EQ(captions.size(), 34u);
  EXPECT_EQ(captions.front(), QStringLiteral("  In Progress"));
  EXPECT_EQ(captions[1], QStringLiteral("  In Progress  32"));
  EXPECT_EQ(captions.back(), QStringLiteral("  In Progress  0"));
  EXPECT_FALSE(enabledDuringCountdown);
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(w.cmdClose->isEnabled());
  EXPECT_TRUE(w.txt[0]->isEnabled());
  EXPECT_TRUE(w.LbLInProgress->isHidden());
  EXPECT_EQ(env.WindowWaited(), milliseconds(33'000));
  EXPECT_NE(SensorCode(env, 0), 0);
  for (int row = 0; row < fmCalibration::kRows; ++row) {
    const int32_t code = SensorCode(env, row);
    EXPECT_EQ(w.lbl[size_t(row)]->text().toStdString(), NumberToHex(code));
    EXPECT_EQ(w.txt[size_t(row)]->text().toStdString(),
              GeneralText(code * kOffsetRows[size_t(row)].factor));
  }

  // A second run starts from where the first one's caption ended.
  captions.clear();
  watch.start(0);
  w.cmdPreciAutoNull->click();
  watch.stop();
  ASSERT_EQ(captions.size(), 34u);
  EXPECT_EQ(captions.front(), QStringLiteral("  In Progress  0"));
  EXPECT_EQ(captions[1], QStringLiteral("  In Progress  32"));
}

// SIGTERM during the countdown: the wait ends, the window closes, the program shuts down.
TEST(Calibration, TerminationSignalEndsThePrecisionCountdown) {
  Rig env;
  fmCalibration& w = env.Open();
  SignalClose closer;
  // SIGTERM a quarter of a second into the countdown's first second.
  const Nanoseconds start = env.clock.Now();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (env.clock.Now() - start < milliseconds(250)) return;
    poll.stop();
    std::raise(SIGTERM);
  });
  poll.start(0);
  w.cmdPreciAutoNull->click();
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(w.PrecisionAutoNullRunning());
  EXPECT_TRUE(w.cmdClose->isEnabled());
  EXPECT_LE(env.WindowWaited(), milliseconds(500));  // a slice or two, not the second
}

TEST(Calibration, MenuOpensTheWindowModally) {
  Rig env;
  bool opened = false;
  testing::OnModal<fmCalibration>([&](fmCalibration& w) {
    opened = true;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Calibration"));
    EXPECT_TRUE(w.isModal());
    w.cmdClose->click();
  });
  env.form->MnuCal->trigger();
  EXPECT_TRUE(opened);
}

}  // namespace
}  // namespace pemra
