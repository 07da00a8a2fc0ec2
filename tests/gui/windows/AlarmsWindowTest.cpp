// The alarm window on the simulated sensor (parallel port): codes written for typed levels,
// what it shows after the read-back, the read-modify-writes of ALM_CTRL, and the entries
// it cannot convert.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "gui/GuiTestSupport.h"
#include "gui/windows/frmAlarms.h"

namespace pemra {
namespace {

constexpr uint8_t kMag1 = 0x26;
constexpr uint8_t kMag2 = 0x28;
constexpr uint8_t kSmpl1 = 0x2A;
constexpr uint8_t kCtrl = 0x2E;

template <class Base>
struct WithAlarms : Base {
  frmAlarms& Open(int16_t model = 21420) {
    this->Load(1, model);
    window = std::make_unique<frmAlarms>(this->app, this->form.get());
    window->show();
    return *window;
  }
  uint16_t Word(uint8_t address) { return this->rig.Sensor().PeekRegister(address); }
  void Poke(uint8_t address, uint16_t word) { this->rig.Sensor().PokeRegister(address, word); }
  std::unique_ptr<frmAlarms> window;
};
using AlarmRig = WithAlarms<testing::GuiRig>;
// The sensor ignores ALM_CTRL bits 3-5: a transport whose words the test sets shows that
// the window keeps them all the same.
using FakeAlarmRig = WithAlarms<testing::GuiFake>;

TEST(AlarmsWindow, OpensWithTheSensorsSetup) {
  AlarmRig env;
  env.Poke(kMag1, 0x8555);
  env.Poke(kMag2, 0x3AAB);
  env.Poke(kSmpl1, 200);
  env.Poke(kCtrl, 0x2AC5);  // sources 10 and 2, both rates, indicator DI/O1 low enabled
  frmAlarms& w = env.Open();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("ALARM CONFIGURATION AND CONTROL"));
  ASSERT_EQ(w.cmboAsource1->count(), 12);
  EXPECT_EQ(w.cmboAsource1->itemText(3), QStringLiteral("Y-Gyro"));
  EXPECT_EQ(w.cmboAsource2->itemText(11), QStringLiteral("Aux_ADC"));
  EXPECT_EQ(w.cmboAsource1->currentIndex(), 10);
  EXPECT_EQ(w.cmboAsource2->currentIndex(), 2);
  EXPECT_EQ(w.lblALM_MAG1->text(), QStringLiteral("0555"));  // bit 15 only in the options
  EXPECT_EQ(w.txtLevel2->text(), QStringLiteral("-100.000"));
  EXPECT_EQ(w.txtAvg1->text(), QStringLiteral("200"));
  EXPECT_EQ(w.lblALM_SMPL1->text(), QStringLiteral("00C8"));
  for (QRadioButton* option : {w.opTrigPol1_Greater, w.opTrigPol2_Less, w.opRate1_Enabled,
                               w.opRate2_Enabled, w.opDigLine_one, w.opDigPol_low, w.opDig_Enabled}) {
    EXPECT_TRUE(option->isChecked()) << option->objectName().toStdString();
  }
  EXPECT_EQ(env.session.access.AlmCtrlShadow, 0x2AC5);
}

struct LevelCase { int source; const char* typed; bool greater; uint16_t word; const char* shown; };

TEST(AlarmsWindow, TypedLevelsAreWrittenAsCodesAndShownAsTheSensorHoldsThem) {
  const LevelCase cases[] = {
      {2, "100", true, 0x8555, "100.000"},
      {2, "-100", false, 0x3AAB, "-100.000"},
      {1, "5", false, 0x0AAA, "5.000"},
      {8, "50", false, 0x00AC, "49.992"},
      {8, "10", false, 0x3F99, "10.034"},
      {8, "-10", false, 0x0F0F, "-10.017"},
      {2, "700", false, 0x1FFE, "599.999"},      // held to "600"
      {5, "-25", false, 0x2000, "-20.660"},      // held to "-20.66"
      {5, "20.66", false, 0x1FFF, "20.658"},     // code 8192 clamped, sign kept
      {8, "300", false, 0x0753, "297.438"},      // held to "297.4291"
      {8, "-300", false, 0x0800, "-272.574"},    // held to "-297.574", code clamped
      {0, "55", true, 0x8000, "0.000"},          // Disabled keeps the polarity
      {3, "abc", false, 0x0000, "0.000"},        // not a number: "0"
      {8, "0", false, 0x3F54, "0.008"},          // -172 in 14 bits: 0 is not below 0
      {11, "3", false, 0x0FFF, "2.500"},         // held to "2.5"
  };
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(c.typed);
    AlarmRig env;
    frmAlarms& w = env.Open();
    w.cmboAsource1->setCurrentIndex(c.source);
    w.txtLevel1->setText(QString::fromLatin1(c.typed));
    (c.greater ? w.opTrigPol1_Greater : w.opTrigPol1_Less)->setChecked(true);
    w.cmdWiteA1->click();
    EXPECT_EQ(env.Word(kMag1), c.word);
    EXPECT_EQ(env.Word(kCtrl) >> 8 & 0xF, c.source);
    EXPECT_EQ(w.txtLevel1->text(), QString::fromLatin1(c.shown));
    EXPECT_EQ(w.lblALM_MAG1->text(), QStringLiteral("%1").arg(c.word & 0x3FFF, 4, 16, QLatin1Char('0')).toUpper());
  }
}

TEST(AlarmsWindow, EitherUpdateButtonWritesBothAlarms) {
  AlarmRig env;
  frmAlarms& w = env.Open();
  w.cmboAsource1->setCurrentIndex(1);
  w.txtLevel1->setText(QStringLiteral("5"));
  w.cmboAsource2->setCurrentIndex(4);
  w.txtLevel2->setText(QStringLiteral("-100"));
  w.opTrigPol2_greater->setChecked(true);
  env.clock.ClearWaits();
  w.cmdWriteA2->click();
  EXPECT_EQ(env.Word(kMag1), 0x0AAA);
  EXPECT_EQ(env.Word(kMag2), 0xBAAB);
  EXPECT_EQ(env.Word(kCtrl), 0x4100);
  EXPECT_EQ(w.txtLevel2->text(), QStringLiteral("-100.000"));
  // The sources settle for 150 ms before the levels are written.
  const std::vector<Nanoseconds> waits = env.clock.Waits();
  EXPECT_EQ(std::count(waits.begin(), waits.end(), std::chrono::milliseconds(150)), 1);
}

// Levels convert with the scale the model and the gyro range give the source's output.
TEST(AlarmsWindow, LevelsFollowTheModelAndTheGyroRange) {
  const struct {
    int16_t model;
    uint16_t sensAvg;  // the range the sensor holds when the main window loads
    int source;
    const char* typed;
    uint16_t word;
    const char* shown;
  } cases[] = {
      {21420, 0x0102, 2, "100", 0x1554, "100.000"},   // a quarter of 0.07326 deg/s
      {21420, 0x0202, 4, "-100", 0x3556, "-100.000"}, // half of it
      {21490, 0x0402, 3, "100", 0x01F4, "100.000"},   // 0.2 deg/s
      {21410, 0x0402, 2, "100", 0x07D0, "100.000"},   // 0.05 deg/s
      {21410, 0x0402, 1, "5", 0x0812, "5.000"},       // 14-bit supply at 2.42 mV
      {21430, 0x0402, 7, "1", 0x085C, "1.000"},       // 0.4672 mg
      {21410, 0x0402, 9, "200", 0x0F89, "174.988"},   // pitch: 13 bits at 0.044 deg
      {21410, 0x0402, 10, "297.4291", 0x0FFF, "180.180"},  // held to the angle's 13 bits
      {21410, 0x0402, 10, "-100", 0x14E7, "-125.004"},     // 13-bit two's complement
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.model) + " source " + std::to_string(c.source) + " " + c.typed);
    AlarmRig env;
    env.Poke(0x38, c.sensAvg);
    frmAlarms& w = env.Open(c.model);
    w.cmboAsource1->setCurrentIndex(c.source);
    w.txtLevel1->setText(QString::fromLatin1(c.typed));
    w.cmdWiteA1->click();
    EXPECT_EQ(env.Word(kMag1), c.word);
    EXPECT_EQ(w.txtLevel1->text(), QString::fromLatin1(c.shown));
  }
}

TEST(AlarmsWindow, RegistersAreReadInTheirOrderIntoTheirOwnPlaces) {
  FakeAlarmRig env;
  env.SetWord(reg::ALM_MAG1, 0x0123);
  env.SetWord(reg::ALM_MAG2, 0x0456);
  env.SetWord(reg::ALM_SMPL1, 7);
  env.SetWord(reg::ALM_SMPL2, 9);
  env.fake.readAddresses.clear();
  frmAlarms& w = env.Open();
  EXPECT_EQ(w.lblALM_MAG1->text(), QStringLiteral("0123"));
  EXPECT_EQ(w.lblALM_MAG2->text(), QStringLiteral("0456"));
  EXPECT_EQ(w.txtAvg1->text(), QStringLiteral("7"));
  EXPECT_EQ(w.txtAVG2->text(), QStringLiteral("9"));
  const std::vector<int16_t>& reads = env.fake.readAddresses;
  ASSERT_GE(reads.size(), 5u);
  EXPECT_EQ(std::vector<int16_t>(reads.end() - 5, reads.end()),
            (std::vector<int16_t>{0x26, 0x28, 0x2A, 0x2C, 0x2E}));
}

TEST(AlarmsWindow, EachWriteKeepsTheFieldsItDoesNotOwn) {
  // The shadow: what was read back last, or the indicator word just written (no read-back).
  struct Case { const char* action; std::function<void(frmAlarms&)> act; uint16_t ctrl; int32_t shadow; };
  const Case cases[] = {
      {"sources", [](frmAlarms& w) {
         w.cmboAsource1->setCurrentIndex(3);
         w.cmboAsource2->setCurrentIndex(11);
         w.cmdWiteA1->click();
       }, 0xB33D, 0x2A3D},
      {"rate 1", [](frmAlarms& w) {
         w.opRate1_Enabled->setChecked(true);
         w.cmdWriteAlmSmpl1->click();
       }, 0x2A7D, 0x2A3D},
      {"rate 2", [](frmAlarms& w) {
         w.opRate2_Enabled->setChecked(true);
         w.cmdWriteAlmSmpl2->click();
       }, 0x2ABD, 0x2A3D},
      {"indicator", [](frmAlarms& w) {
         w.opDigLine_zero->setChecked(true);
         w.opDigPol_high->setChecked(true);
         w.opDig_Disabled->setChecked(true);
         w.cmdAdio->click();
       }, 0x2A3A, 0x2A3A},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    FakeAlarmRig env;
    env.SetWord(reg::ALM_CTRL, 0x2A3D);  // sources 10 and 2; bits 0 and 2-5 set
    frmAlarms& w = env.Open();
    c.act(w);
    EXPECT_EQ(env.fake.Written(kCtrl), c.ctrl);
    EXPECT_EQ(env.session.access.AlmCtrlShadow, c.shadow);
  }
}

TEST(AlarmsWindow, AveragingNumberIsHeldToAByte) {
  const std::pair<const char*, std::pair<const char*, uint16_t>> cases[] = {
      {"300", {"255", 255}}, {"256", {"255", 255}}, {"255", {"255", 255}}, {"-3", {"0", 0}},
      {"2.5", {"2", 2}},     {"2.7", {"3", 3}},     {"x", {"0", 0}},       {"17", {"17", 17}},
  };
  for (const auto& [typed, expected] : cases) {
    SCOPED_TRACE(typed);
    AlarmRig env;
    env.Poke(kSmpl1, 99);
    frmAlarms& w = env.Open();
    w.txtAvg1->setText(QString::fromLatin1(typed));
    w.cmdWriteAlmSmpl1->click();
    EXPECT_EQ(env.Word(kSmpl1), expected.second);
    EXPECT_EQ(w.txtAvg1->text(), QString::fromLatin1(expected.first));  // read back
  }
}

TEST(AlarmsWindow, SourcesWithoutAnEntryAreKept) {
  AlarmRig env;
  env.Poke(kMag1, 0x8123);
  env.Poke(kCtrl, 0x2D00);  // alarm 1: code 13, which has no entry
  frmAlarms& w = env.Open();
  EXPECT_EQ(w.cmboAsource1->currentIndex(), -1);
  EXPECT_EQ(w.txtLevel1->text(), QStringLiteral("0.000"));
  w.cmboAsource2->setCurrentIndex(5);
  w.cmdWiteA1->click();
  EXPECT_EQ(env.Word(kCtrl), 0x5D00);  // alarm 1's field and level as the sensor held them
  EXPECT_EQ(env.Word(kMag1), 0x8123);

  // A caption typed in full, Enter pressed or not, in any case, is the entry chosen.
  w.cmboAsource1->setEditText(QStringLiteral("x_gyro"));
  w.cmdWriteA2->click();
  EXPECT_EQ(env.Word(kCtrl), 0x5200);
  EXPECT_EQ(w.cmboAsource1->currentIndex(), 2);
  EXPECT_TRUE(env.messages.messages.empty());

  // Any other text is refused with a message and nothing is written.
  w.cmboAsource2->setEditText(QStringLiteral("Z_Ac"));
  w.cmboAsource1->setCurrentIndex(1);
  w.cmdWiteA1->click();
  EXPECT_EQ(env.Word(kCtrl), 0x5200);
  ASSERT_EQ(env.messages.messages.size(), 1u);
  EXPECT_EQ(env.messages.messages[0].text,
            "\"Z_Ac\" is not an alarm source: choose one of the list's entries.");
}

TEST(AlarmsWindow, SourceListsShowAllTwelveEntriesWithoutScrolling) {
  AlarmRig env;
  frmAlarms& w = env.Open();
  for (QComboBox* list : {w.cmboAsource1, w.cmboAsource2}) {
    EXPECT_EQ(list->count(), 12);
    EXPECT_GE(list->maxVisibleItems(), 12);
  }
}

TEST(AlarmsWindow, FlashUpdateCommandsAndWaits) {
  AlarmRig env;
  frmAlarms& w = env.Open();
  const uint16_t updates = env.Word(0x00);  // ENDURANCE counts flash updates
  env.clock.ClearWaits();
  w.cmdFlash->click();
  ASSERT_FALSE(env.clock.Waits().empty());
  EXPECT_EQ(env.clock.Waits().back(), std::chrono::milliseconds(200));
  EXPECT_EQ(env.Word(0x00), updates + 1);
}

}  // namespace
}  // namespace pemra
