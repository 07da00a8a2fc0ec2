// The operational control window on the simulated sensor: every conversion checked by the
// word the sensor holds afterwards and by what the window then shows.

#include <QAction>
#include <QLineEdit>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OpsTestSupport.h"
#include "core/OperatingSettings.h"
#include "core/RegisterTable.h"
#include "core/Timing.h"
#include "gui/windows/frmOperationalControl.h"

namespace pemra {
namespace {

using Rig = testing::OpsRig<frmOperationalControl>;
using testing::TypeInto;

struct RateCase {
  const char* typed;
  int16_t interfaceType;
  int32_t word;        // held by the sensor afterwards
  const char* shown;   // the rate read back
  bool lowPowerMessage;
};

TEST(OperationalControl, SampleRateBecomesThePeriodWord) {
  const RateCase cases[] = {
      {"819.2", 1, 0x01, "819.202", false},   {"100", 1, 0x0F, "102.4", false},
      {"100", 2, 0x09, "163.84", true},       {"40", 1, 0x81, "26.426", false},
      {"10", 1, 0x84, "10.57", false},        {"0.4129", 1, 0xFF, "0.413", false},
      {"5000", 1, 0x01, "819.202", false},    {"0", 1, 0xFF, "0.413", false},
      {"0", 2, 0x09, "163.84", true},         {"abc", 1, 0x01, "819.202", false},
      {"nan", 2, 0x01, "819.202", false},     {"-1e999", 1, 0xFF, "0.413", false},
      {"52.8513793945296", 1, 0x1E, "52.852", false},
      {"250", 1, 0x06, "234.058", false},      // Ns 5.55 rounds up
      {"163.84", 2, 0x09, "163.84", false},    // the limit itself: no message
  };
  for (const RateCase& c : cases) {
    SCOPED_TRACE(std::string(c.typed) + " over interface " + std::to_string(c.interfaceType));
    Rig env(c.interfaceType);
    frmOperationalControl& w = env.Open();
    TypeInto(w.txtSampleRate, QString::fromLatin1(c.typed));
    w.cmdWriteSmpl_prd->click();
    EXPECT_EQ(env.SensorWord(reg::SMPL_PRD), c.word);
    EXPECT_EQ(w.txtSampleRate->text().toStdString(), c.shown);
    EXPECT_EQ(w.lblSmpl_Prd->text().toStdString(), NumberToHex(c.word));
    EXPECT_EQ(env.HasMessage(std::string(kLowPowerMessage)), c.lowPowerMessage);
  }
}

struct SensAvgCase {
  const char* range;  // object name of the range option clicked
  const char* taps;
  int32_t word;
  const char* tapsShown;
  float gyroScale;    // of the primary model afterwards
};

TEST(OperationalControl, RangeAndTapsBecomeTheFilterWordAndGyroScale) {
  const SensAvgCase cases[] = {
      {"opt_Rate_320", "100", 0x0406, "64", 0.07326f}, {"opt_Rate_160", "0.4", 0x0200, "1", 0.03663f},
      {"opt_Rate_80", "2.5", 0x0101, "2", 0.018315f},  {"opt_Rate_320", "abc", 0x0400, "1", 0.07326f},
      {"opt_Rate_320", "3", 0x0402, "4", 0.07326f},    {"opt_Rate_160", "6", 0x0203, "8", 0.03663f},
      {"opt_Rate_80", "48", 0x0106, "64", 0.018315f},  {"opt_Rate_320", "1e999", 0x0406, "64", 0.07326f},
  };
  for (const SensAvgCase& c : cases) {
    SCOPED_TRACE(std::string(c.range) + " " + c.taps);
    Rig env;
    frmOperationalControl& w = env.Open();
    w.findChild<QRadioButton*>(QString::fromLatin1(c.range))->click();
    TypeInto(w.txtTaps, QString::fromLatin1(c.taps));
    w.cmdWriteSensAvg->click();
    EXPECT_EQ(env.SensorWord(reg::SENS_AVG), c.word);
    EXPECT_EQ(w.txtTaps->text().toStdString(), c.tapsShown);
    EXPECT_EQ(w.lblSensAvg->text().toStdString(), NumberToHex(c.word));
    EXPECT_EQ(env.session.table[reg::XGYRO_OUT].RegScale, c.gyroScale);
    EXPECT_EQ(env.session.table[reg::ZGYRO_OUT].RegScale, c.gyroScale);
  }
}

TEST(OperationalControl, VoltsBecomeTheLatchedDacCode) {
  const struct {
    const char* typed;
    int32_t code;
    const char* shown;
  } cases[] = {{"1.2", 1965, "1.1996337"}, {"1", 1638, "1.0"},  {"2.5", 4095, "2.5"},
               {"-1", 0, "0.0"},           {"3", 4095, "2.5"}, {"abc", 0, "0.0"},
               {"0.0006105", 1, "0.0006105"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    Rig env;
    frmOperationalControl& w = env.Open();
    TypeInto(w.txtVolts, QString::fromLatin1(c.typed));
    w.cmdWriteAuxDac->click();
    EXPECT_EQ(env.SensorWord(reg::AUX_DAC), c.code);
    EXPECT_DOUBLE_EQ(env.rig.Sensor().DacVolts(), c.code / 4095.0 * 2.5);  // latched
    EXPECT_EQ(w.txtVolts->text().toStdString(), c.shown);
    EXPECT_EQ(w.lblAuxDac->text().toStdString(), NumberToHex(c.code));
  }
}

// What the box shows for a code is written as that code again, Update after Update.
TEST(OperationalControl, DacUpdateOnTheShownVoltsKeepsTheCode) {
  for (uint16_t code : {1, 3, 1965, 4094}) {
    SCOPED_TRACE(code);
    Rig env;
    env.SetSensorWord(reg::AUX_DAC, code);
    frmOperationalControl& w = env.Open();
    w.cmdWriteAuxDac->click();
    w.cmdWriteAuxDac->click();
    EXPECT_EQ(env.SensorWord(reg::AUX_DAC), code);
  }
}

TEST(OperationalControl, LoadingShowsTheSensorAndWritesNothing) {
  testing::GuiFake env;
  env.Load(1);
  env.SetWord(reg::SMPL_PRD, 0x80);
  env.SetWord(reg::SENS_AVG, 0x0305);  // range code 3: no range option changes
  env.SetWord(reg::GPIO_CTRL, 0x0201);
  env.SetWord(reg::MSC_CTRL, 0x0105);
  env.SetWord(reg::AUX_DAC, 1965);
  env.fake.frames.clear();
  frmOperationalControl w(env.app, env.form.get());
  w.show();
  EXPECT_TRUE(env.fake.frames.empty());
  EXPECT_EQ(w.txtSampleRate->text(), QStringLiteral("52.851"));
  EXPECT_EQ(w.lblSmpl_Prd->text(), QStringLiteral("0080"));
  EXPECT_TRUE(w.opt_Rate_320->isChecked());
  EXPECT_EQ(w.txtTaps->text(), QStringLiteral("32"));
  EXPECT_EQ(w.lblSensAvg->text(), QStringLiteral("0305"));
  EXPECT_TRUE(w.optIO_zero_output->isChecked());
  EXPECT_TRUE(w.optIO_one_input->isChecked());
  EXPECT_TRUE(w.optPol_zero_low->isChecked());
  EXPECT_TRUE(w.optPol_one_high->isChecked());
  EXPECT_TRUE(w.optDRselect_One->isChecked());
  EXPECT_TRUE(w.optDRPolarity_Low->isChecked());
  EXPECT_TRUE(w.optDREnable_On->isChecked());
  EXPECT_EQ(w.txtVolts->text(), QStringLiteral("1.1996337"));
  EXPECT_EQ(w.lblAuxDac->text(), QStringLiteral("07AD"));
  EXPECT_FALSE(w.lblNoInterface->isVisible());
}

TEST(OperationalControl, LoadingSelectsTheRangeOfTheCode) {
  const struct {
    int32_t word;
    const char* selected;
  } cases[] = {{0x0104, "opt_Rate_80"}, {0x0203, "opt_Rate_160"}, {0x0406, "opt_Rate_320"}};
  for (const auto& c : cases) {
    Rig env;
    env.SetSensorWord(reg::SENS_AVG, static_cast<uint16_t>(c.word));
    frmOperationalControl& w = env.Open();
    EXPECT_TRUE(w.findChild<QRadioButton*>(QString::fromLatin1(c.selected))->isChecked())
        << c.selected;
  }
}

TEST(OperationalControl, UnknownRangeCodeLeavesTheHighestRangeForTheNextUpdate) {
  for (uint16_t loaded : {0x0002, 0x0304, 0x0501, 0x0701}) {
    SCOPED_TRACE(NumberToHex(loaded));
    Rig env;
    env.SetSensorWord(reg::SENS_AVG, loaded);
    frmOperationalControl& w = env.Open();
    EXPECT_TRUE(w.opt_Rate_320->isChecked());
    EXPECT_EQ(w.txtTaps->text().toInt(), 1 << (loaded & 7));
    w.cmdWriteSensAvg->click();
    EXPECT_EQ(env.SensorWord(reg::SENS_AVG), 0x0400 | (loaded & 7));
  }
}

// A read-back with an unknown range code leaves the range the user chose, whichever it is.
TEST(OperationalControl, UnknownRangeCodeReadBackLeavesTheChosenRange) {
  for (const char* chosen : {"opt_Rate_80", "opt_Rate_160"}) {
    testing::GuiFake env;
    env.Load(1);
    env.SetWord(reg::SENS_AVG, 0x0305);  // whatever is written, code 3 reads back
    frmOperationalControl w(env.app, env.form.get());
    w.show();
    auto* option = w.findChild<QRadioButton*>(QString::fromLatin1(chosen));
    option->click();
    w.cmdWriteSensAvg->click();
    EXPECT_TRUE(option->isChecked()) << chosen;
    env.fake.frames.clear();
    w.cmdWriteSensAvg->click();
    EXPECT_EQ(env.fake.Written(0x38).value_or(-1) >> 8, std::string(chosen) == "opt_Rate_80" ? 1 : 2)
        << chosen;
  }
}

TEST(OperationalControl, RangeCaptionsFollowTheModel) {
  const struct {
    int16_t model;
    const char* highest;
    const char* middle;
    const char* lowest;
  } cases[] = {{21410, "300 deg/sec", "150 deg/sec", "75 deg/sec"},
               {21420, "320 deg/sec", "160 deg/sec", "80 deg/sec"},
               {21430, "320 deg/sec", "160 deg/sec", "80 deg/sec"},
               {21440, "320 deg/sec", "160 deg/sec", "80 deg/sec"},
               {21450, "300 deg/sec", "150 deg/sec", "75 deg/sec"},
               {21460, "300 deg/sec", "150 deg/sec", "75 deg/sec"},
               {21470, "300 deg/sec", "150 deg/sec", "75 deg/sec"},
               {21480, "300 deg/sec", "150 deg/sec", "75 deg/sec"},
               {21490, "320 deg/sec", "160 deg/sec", "80 deg/sec"}};
  for (const auto& c : cases) {
    Rig env(1, c.model);
    frmOperationalControl& w = env.Open();
    EXPECT_EQ(w.opt_Rate_320->text().toStdString(), c.highest) << c.model;
    EXPECT_EQ(w.opt_Rate_160->text().toStdString(), c.middle) << c.model;
    EXPECT_EQ(w.opt_Rate_80->text().toStdString(), c.lowest) << c.model;
  }
}

TEST(OperationalControl, OptionClicksWriteTheLineWordsAndShadows) {
  // Each click writes the whole word. The data-ready output is off, so the levels the
  // sensor reports for output lines are the written ones; an input line reads low.
  const struct {
    std::vector<const char*> clicks;
    int32_t written;  // and kept in the shadow
    int32_t held;     // as the sensor reports it
  } cases[] = {
      {{"optPol_one_high"}, 0x0200, 0x0000},
      {{"optIO_zero_output", "optPol_zero_high"}, 0x0101, 0x0101},
      {{"optIO_zero_output", "optIO_one_output", "optPol_zero_high"}, 0x0103, 0x0103},
      {{"optIO_one_output", "optPol_one_high", "optPol_zero_high"}, 0x0302, 0x0202},
  };
  for (const auto& c : cases) {
    Rig env;
    frmOperationalControl& w = env.Open();
    w.optDREnable_Off->click();
    for (const char* name : c.clicks) w.findChild<QRadioButton*>(QString::fromLatin1(name))->click();
    EXPECT_EQ(env.session.access.GpioCtrlShadow, c.written) << c.clicks.back();
    EXPECT_EQ(env.SensorWord(reg::GPIO_CTRL), c.held) << c.clicks.back();
  }
  Rig env;
  frmOperationalControl& w = env.Open();

  // The self-test bit set by the main window is cleared by a data-ready click.
  env.form->optSTON->click();
  ASSERT_EQ(env.SensorWord(reg::MSC_CTRL) & 0x100, 0x100);
  w.optDRselect_One->click();
  EXPECT_EQ(env.SensorWord(reg::MSC_CTRL), 0x0007);
  EXPECT_EQ(env.session.access.MscCtrlShadow, 0x0007);
}

TEST(OperationalControl, EachWriteWaitsItsOwnTime) {
  const struct {
    const char* button;  // object name of what is clicked
    int waitedMs;
  } cases[] = {{"cmdWriteSmpl_prd", 10}, {"cmdWriteSensAvg", 0},    {"cmdWriteAuxDac", 400},
               {"optIO_one_output", 100}, {"optDREnable_Off", 100}, {"cmdFlash", 200}};
  for (const auto& c : cases) {
    Rig env;
    frmOperationalControl& w = env.Open();
    w.findChild<QAbstractButton*>(QString::fromLatin1(c.button))->click();
    EXPECT_EQ(env.WindowWaited(), std::chrono::milliseconds(c.waitedMs)) << c.button;
  }
}

TEST(OperationalControl, FlashUpdateIsSavedByTheSensor) {
  Rig env;
  frmOperationalControl& w = env.Open();
  w.cmdFlash->click();
  EXPECT_EQ(env.SensorWord(reg::ENDURANCE), 1);
}

// Without an interface nothing is shown as the sensor's: the boxes and hex words are empty,
// no I/O option is chosen, and a line says why.
void ExpectNoInterfaceShown(const frmOperationalControl& w) {
  EXPECT_TRUE(w.lblNoInterface->isVisible());
  EXPECT_EQ(w.lblNoInterface->text(), QStringLiteral("No interface is in use."));
  for (const QLineEdit* box : {w.txtSampleRate, w.txtTaps, w.txtVolts}) {
    EXPECT_EQ(box->text(), QString()) << box->objectName().toStdString();
  }
  for (const QLabel* hex : {w.lblSmpl_Prd, w.lblSensAvg, w.lblAuxDac}) {
    EXPECT_EQ(hex->text(), QString()) << hex->objectName().toStdString();
  }
  for (const QRadioButton* option : w.findChildren<QRadioButton*>()) {
    if (option->objectName().startsWith(QStringLiteral("opt_Rate"))) continue;
    EXPECT_FALSE(option->isChecked()) << option->objectName().toStdString();
  }
}

TEST(OperationalControl, WithoutAnInterfaceTheWindowSaysSoAndShowsNothing) {
  Rig env(0);
  frmOperationalControl& w = env.Open();
  ExpectNoInterfaceShown(w);
}

TEST(OperationalControl, LostAdapterWritesNothingAndShowsThatNoInterfaceIsInUse) {
  Rig env(2);
  frmOperationalControl& w = env.Open();
  ASSERT_FALSE(w.lblNoInterface->isVisible());
  env.rig.SimUsb().UnplugAfter(0);
  TypeInto(w.txtSampleRate, QStringLiteral("400"));
  w.cmdWriteSmpl_prd->click();  // the write fails: the transport reports it
  EXPECT_EQ(env.messages.messages.size(), 1u);
  ExpectNoInterfaceShown(w);
  env.rig.SimUsb().Replug();
  TypeInto(w.txtVolts, QStringLiteral("1"));
  w.cmdWriteAuxDac->click();
  w.optDREnable_Off->click();
  TypeInto(w.txtTaps, QStringLiteral("abc"));
  w.cmdWriteSensAvg->click();
  EXPECT_EQ(env.SensorWord(reg::SENS_AVG), 0x0402);
  EXPECT_EQ(env.messages.messages.size(), 1u);
  EXPECT_EQ(env.SensorWord(reg::AUX_DAC), 0);
  EXPECT_EQ(env.SensorWord(reg::MSC_CTRL), 0x0006);
  ExpectNoInterfaceShown(w);
}

TEST(OperationalControl, MenuOpensTheWindowModallyAtTheMainWindowCorner) {
  Rig env;
  env.form->move(37, 52);  // not where a window would land unplaced
  ASSERT_TRUE(env.form->mnuOperation->isEnabled());
  bool opened = false;
  testing::OnModal<frmOperationalControl>([&](frmOperationalControl& w) {
    opened = true;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Operational Control"));
    EXPECT_TRUE(w.isModal());
    EXPECT_EQ(w.pos(), env.form->frameGeometry().topLeft());
    w.cmdClose->click();
  });
  env.form->mnuOperation->trigger();
  EXPECT_TRUE(opened);
}

}  // namespace
}  // namespace pemra
