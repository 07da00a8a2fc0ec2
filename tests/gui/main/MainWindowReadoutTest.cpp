// The main window's readout, lamps, self-test, power-down, model menu and charts, driven by
// object name on register words the test sets.

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>

#include "gui/GuiTestSupport.h"
#include "gui/kit/EntryRules.h"
#include "gui/kit/StripChart.h"

namespace pemra {
namespace {

using testing::GuiFake;
using namespace std::chrono_literals;

template <class W>
W* Find(QWidget& w, const char* name) {
  W* found = w.findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

class ReadoutTest : public ::testing::Test {
 protected:
  frmForm1& LoadParallel() {
    frmForm1& f = env.Load(1);
    env.messages.messages.clear();
    return f;
  }
  // Stops the running readout through `stop` after `samples` samples have been taken.
  int RunLoop(frmForm1& form, int samples, std::function<void()> stop) {
    int taken = 0;
    // The stop is posted, so the loop's own event processing delivers it during the next
    // sample, as it would a user's click.
    const QMetaObject::Connection c = QObject::connect(&form, &frmForm1::SampleTaken, [&] {
      if (++taken == samples) QMetaObject::invokeMethod(&form, stop, Qt::QueuedConnection);
      if (taken > 10000) form.cmdReadData->setText(QStringLiteral("Read"));  // runaway guard
    });
    QTest::mouseClick(Find<QPushButton>(form, "cmdReadData"), Qt::LeftButton);
    QObject::disconnect(c);
    return taken;
  }

  GuiFake env;
};

TEST_F(ReadoutTest, OneShotFillsTheBoxesAndDrawsOneColumn) {
  frmForm1& form = LoadParallel();
  env.SetWord(reg::SUPPLY_OUT, 1802);  // 3.30 V
  env.SetWord(reg::XACCL_OUT, 400);    // 1.0088 g
  env.SetWord(reg::XTEMP_OUT, 0xFFF);  // -1: 24.85 degrees
  form.ckLoop->setChecked(false);
  const int columnBefore = form.pic1->Column();
  const int readsBefore = env.fake.reads;

  QTest::mouseClick(Find<QPushButton>(form, "cmdReadData"), Qt::LeftButton);

  EXPECT_EQ(Find<QLineEdit>(form, "txtReadReg_1")->text(), QStringLiteral("3.30"));
  EXPECT_EQ(Find<QLineEdit>(form, "txtReadReg_5")->text(), QStringLiteral("1.01"));
  EXPECT_EQ(Find<QLineEdit>(form, "txtReadReg_8")->text(), QStringLiteral("24.85"));
  EXPECT_EQ(form.cmdReadData->text(), QStringLiteral("Read"));
  EXPECT_EQ(form.pic1->Column(), columnBefore + 1);
  EXPECT_EQ(form.pic2->Column(), columnBefore + 1);
  EXPECT_EQ(env.fake.reads - readsBefore, 11 + 1);  // eleven outputs and the status
}

TEST_F(ReadoutTest, ReadDoesNothingWithoutAnInterface) {
  frmForm1& form = env.Load(0);
  form.ckLoop->setChecked(true);
  const int reads = env.fake.reads;
  env.messages.messages.clear();
  QTest::mouseClick(form.cmdReadData, Qt::LeftButton);
  env.SetWord(reg::STATUS, 0x0301);
  QTest::mouseClick(form.CmdUpdateStatus, Qt::LeftButton);  // the status read does nothing
  EXPECT_EQ(env.fake.reads, reads);
  EXPECT_EQ(form.cmdReadData->text(), QStringLiteral("Read"));
  EXPECT_EQ(form.statusFlags[0]->text(), QStringLiteral("--"));  // neutral: nothing read
  EXPECT_TRUE(env.messages.messages.empty());
}

TEST_F(ReadoutTest, LoopRunsWithItsDelayUntilTheButtonIsPressedAgain) {
  frmForm1& form = LoadParallel();
  ASSERT_TRUE(form.ckLoop->isChecked());
  form.txtLoopDelay->setText(QStringLiteral("7"));
  const int column = form.pic1->Column();
  env.clock.ClearWaits();
  bool sawStop = false;
  QObject::connect(&form, &frmForm1::SampleTaken,
                   [&] { sawStop = sawStop || form.cmdReadData->text() == QStringLiteral("STOP"); });

  const int taken = RunLoop(form, 3, [&] { QTest::mouseClick(form.cmdReadData, Qt::LeftButton); });

  // The press is handled while the fourth sample is in hand, which is still completed.
  EXPECT_EQ(taken, 4);
  EXPECT_TRUE(sawStop);
  EXPECT_EQ(form.cmdReadData->text(), QStringLiteral("Read"));
  EXPECT_EQ(form.pic1->Column(), column + 4);
  int delays = 0;
  for (Nanoseconds w : env.clock.Waits()) delays += (w == 7ms);
  EXPECT_EQ(delays, 4);
}

TEST_F(ReadoutTest, UntickingLoopEndsTheReadout) {
  frmForm1& form = LoadParallel();
  const int taken = RunLoop(form, 2, [&] { form.ckLoop->click(); });
  EXPECT_EQ(taken, 3);
  EXPECT_FALSE(form.ckLoop->isChecked());
  EXPECT_EQ(form.cmdReadData->text(), QStringLiteral("Read"));
}

TEST_F(ReadoutTest, ClosingTheWindowEndsTheReadoutAndSavesTheConfiguration) {
  frmForm1& form = LoadParallel();
  bool finished = false;
  QObject::connect(&form, &frmForm1::ShutdownFinished, [&] { finished = true; });
  const int taken = RunLoop(form, 2, [&] { form.close(); });
  EXPECT_EQ(taken, 3);
  EXPECT_TRUE(finished);
  Selection saved;
  ASSERT_TRUE(ReadConfigFile(saved, env.app.options.configPath));
  EXPECT_EQ(saved, env.session.selection);
}

TEST_F(ReadoutTest, LoopDelayAndPowerDownEntryRulesApplyOnEveryChange) {
  frmForm1& form = LoadParallel();
  struct Entry {
    const char* box;
    const char* text;
    const char* shown;
  };
  for (const Entry& e : {Entry{"txtLoopDelay", "abc", "0"}, Entry{"txtLoopDelay", "5000", "1000"},
                         Entry{"txtLoopDelay", "-1", "0"}, Entry{"txtLoopDelay", "250", "250"},
                         Entry{"txtPowerDown", "abc", "0.0"}, Entry{"txtPowerDown", "200", "127.5"},
                         Entry{"txtPowerDown", "-3", "0.0"}, Entry{"txtPowerDown", "2.7", "2.7"}}) {
    auto* box = Find<QLineEdit>(form, e.box);
    box->setText(QString::fromLatin1(e.text));
    EXPECT_EQ(box->text(), QString::fromLatin1(e.shown)) << e.box << " " << e.text;
  }
  // Typed key by key, the limit applies as soon as the text passes it.
  form.txtLoopDelay->clear();
  QTest::keyClicks(form.txtLoopDelay, QStringLiteral("5000"));
  EXPECT_EQ(form.txtLoopDelay->text(), QStringLiteral("1000"));
}

TEST_F(ReadoutTest, StatusLampsFollowTheirBits) {
  frmForm1& form = LoadParallel();
  const std::array<const char*, 6> flags = {"lblLowSupplyFlag", "lblHighSupplyFlag",
                                            "lblWriteFailFlag", "lblSpiWriteFlag",
                                            "lblAlarm1SetFlag", "lblAlarm2SetFlag"};
  struct Case {
    int32_t status;
    std::array<bool, 6> alarm;
  };
  for (const Case& c : {Case{0x0301, {true, false, false, false, true, true}},
                        Case{0x0000, {false, false, false, false, false, false}},
                        Case{0x000E, {false, true, true, true, false, false}},
                        Case{0x00F0, {false, false, false, false, false, false}},
                        Case{0x0200, {false, false, false, false, false, true}}}) {
    env.SetWord(reg::STATUS, c.status);
    QTest::mouseClick(Find<QPushButton>(form, "CmdUpdateStatus"), Qt::LeftButton);
    for (size_t i = 0; i < flags.size(); ++i) {
      auto* lamp = Find<QLabel>(form, flags[i]);
      EXPECT_EQ(lamp->text(), c.alarm[i] ? QStringLiteral("Alarm") : QStringLiteral("OK"))
          << std::hex << c.status << " " << flags[i];
      EXPECT_EQ(lamp->palette().color(QPalette::Window),
                c.alarm[i] ? QColor(255, 0, 0) : QColor(0, 255, 0))
          << std::hex << c.status << " " << flags[i];
    }
  }
}

TEST_F(ReadoutTest, SelfTestSetsAndClearsBitEightOfTheShadow) {
  env.SetWord(reg::MSC_CTRL, 0x0006);
  frmForm1& form = LoadParallel();
  const int32_t address = env.session.table[reg::MSC_CTRL].RegAddress;
  QTest::mouseClick(Find<QRadioButton>(form, "optSTON"), Qt::LeftButton);
  EXPECT_EQ(env.fake.Written(address), 0x0106);
  QTest::mouseClick(Find<QRadioButton>(form, "optSTOFF"), Qt::LeftButton);
  EXPECT_EQ(env.fake.Written(address), 0x0006);
}

TEST_F(ReadoutTest, PowerDownWritesHalfSecondsAndWaitsOnTheClock) {
  struct Case {
    const char* seconds;
    int32_t count;
    double wait;
  };
  // Half seconds rounded down: 2.8 s is 5 counts, not 6.
  for (const Case& c : {Case{"2.7", 5, 2.7}, Case{"2.8", 5, 2.8}, Case{"127.5", 255, 127.5},
                        Case{"0", 0, 0.0}}) {
    GuiFake local;
    local.SetWord(reg::MSC_CTRL, 0x0106);
    frmForm1& form = local.Load(1);
    form.optSTON->setChecked(true);
    form.txtPowerDown->setText(QString::fromLatin1(c.seconds));
    local.fake.frames.clear();
    const Nanoseconds start = local.clock.Now();

    QTest::mouseClick(Find<QPushButton>(form, "cmdPowerDown"), Qt::LeftButton);

    const double waited = std::chrono::duration<double>(local.clock.Now() - start).count();
    EXPECT_EQ(local.fake.Written(local.session.table[reg::SLP_CNT].RegAddress), c.count)
        << c.seconds;
    // The wait, then 200 ms, then self-test off.
    EXPECT_GE(waited, c.wait + 0.2) << c.seconds;
    EXPECT_LT(waited, c.wait + 0.25) << c.seconds;
    EXPECT_TRUE(form.optSTOFF->isChecked());
    EXPECT_EQ(local.fake.Written(local.session.table[reg::MSC_CTRL].RegAddress), 0x0006);
    if (c.wait > 0) {
      EXPECT_GE(NumericValue(form.lblPDElapsed->text(), u'.').value_or(0), c.wait - 0.2);
    }
  }
}

TEST_F(ReadoutTest, SupplyBoxTurnsRedBelowTwoPointSixAndWhiteAbove) {
  frmForm1& form = LoadParallel();
  form.ckLoop->setChecked(false);
  struct Step {
    int32_t word;
    const char* shown;
    QColor colour;
  };
  const QColor red(255, 0, 0);
  const QColor white(255, 255, 255);
  for (const Step& s : {Step{1392, "2.55", red}, Step{1420, "2.60", red},
                        Step{1802, "3.30", white}, Step{1420, "2.60", white},
                        Step{1392, "2.55", red}}) {
    env.SetWord(reg::SUPPLY_OUT, s.word);
    QTest::mouseClick(form.cmdReadData, Qt::LeftButton);
    EXPECT_EQ(form.txtReadReg[1]->text(), QString::fromLatin1(s.shown));
    EXPECT_EQ(form.txtReadReg[1]->palette().color(QPalette::Base), s.colour) << s.shown;
  }
}

TEST_F(ReadoutTest, EveryModelOnTheControls) {
  frmForm1& form = LoadParallel();
  struct Model {
    int16_t code;
    bool yz;
    const char* caption9;
    const char* caption10;
    const char* top;
    const char* bottom;
  };
  const std::vector<Model> models = {
      {21410, false, "Pitch_Out", "Roll_Out", "1.5", "-1.5"},
      {21420, true, "Y_Temp (degC)", "Z_Temp (degC)", "10", "-10"},
      {21430, true, "Y_Temp (degC)", "Z_Temp (degC)", "1.7", "-1.7"},
      {21440, true, "Y_Temp (degC)", "Z_Temp (degC)", "10", "-10"},
      {21450, true, "Y_Temp (degC)", "Z_Temp (degC)", "10", "-10"},
      {21460, true, "Y_Temp (degC)", "Z_Temp (degC)", "10", "-10"},
      {21470, true, "Y_Temp (degC)", "Z_Temp (degC)", "10", "-10"},
      {21480, true, "Y_Temp (degC)", "Z_Temp (degC)", "10", "-10"},
      {21490, true, "Y_Temp (degC)", "Z_Temp (degC)", "10", "-10"},
  };
  for (const Model& m : models) {
    const QString name = QStringLiteral("mnu%1").arg(m.code);
    auto* item = form.findChild<QAction*>(name);
    ASSERT_NE(item, nullptr) << m.code;
    item->trigger();
    for (int16_t other : kModelCodes) {
      auto* o = form.findChild<QAction*>(QStringLiteral("mnu%1").arg(other));
      EXPECT_EQ(o->isChecked(), other == m.code) << m.code << " " << other;
    }
    for (const char* n : {"txtReadReg_3", "txtReadReg_4", "lblReadReg_3", "lblReadReg_4",
                          "ckG_3", "ckG_4", "Shape_3", "Shape_4"}) {
      EXPECT_EQ(!Find<QWidget>(form, n)->isHidden(), m.yz) << m.code << " " << n;
    }
    EXPECT_EQ(Find<QLabel>(form, "lblReadReg_9")->text(), QString::fromLatin1(m.caption9));
    EXPECT_EQ(Find<QLabel>(form, "lblReadReg_10")->text(), QString::fromLatin1(m.caption10));
    EXPECT_EQ(Find<QLabel>(form, "lblpFS2")->text(), QString::fromLatin1(m.top)) << m.code;
    EXPECT_EQ(Find<QLabel>(form, "lblmidS2")->text(), QStringLiteral("0")) << m.code;
    EXPECT_EQ(Find<QLabel>(form, "lblnFS2")->text(), QString::fromLatin1(m.bottom)) << m.code;
    EXPECT_EQ(Find<QGroupBox>(form, "FrameDataPLot")->title(),
              QStringLiteral("Data Plot   Device = %1").arg(m.code));
    EXPECT_EQ(env.session.selection.DeviceType, m.code);
  }

  // An unknown code: reported, nothing ticked, the common setting shown.
  form.SetDevice(0);
  ASSERT_FALSE(env.messages.messages.empty());
  EXPECT_NE(env.messages.messages.back().text.find("ProductNumber = 0"), std::string::npos);
  for (QAction* item : form.mnuModels) EXPECT_FALSE(item->isChecked());
  EXPECT_FALSE(form.txtReadReg[3]->isHidden());
  EXPECT_EQ(form.FrameDataPLot->title(), QStringLiteral("Data Plot   Device = 0"));
}

TEST_F(ReadoutTest, ChannelCheckBoxesShowTheirMarkersAndChooseTheTraces) {
  frmForm1& form = LoadParallel();
  form.ckLoop->setChecked(false);
  QTest::mouseClick(Find<QCheckBox>(form, "ckG_2"), Qt::LeftButton);
  EXPECT_FALSE(form.ckG[2]->isChecked());
  EXPECT_TRUE(form.Shape[2]->isHidden());
  env.SetWord(reg::XGYRO_OUT, 1000);  // 73.26 deg/s, drawn only while X is ticked
  QTest::mouseClick(form.cmdReadData, Qt::LeftButton);
  QTest::mouseClick(form.cmdReadData, Qt::LeftButton);
  // Whether a trace of the colour passes the pixel of (x, y) or one next to it: the line's
  // pixel row depends on how the chart's height rounds.
  const auto tracedAt = [&](double x, double y, const QColor& colour) {
    const QPointF p = form.pic1->SurfacePoint(x, y);
    const QImage& surface = form.pic1->Surface();
    for (int dx = -1; dx <= 1; ++dx) {
      for (int dy = -1; dy <= 1; ++dy) {
        const QPoint q(static_cast<int>(std::lround(p.x())) + dx,
                       static_cast<int>(std::lround(p.y())) + dy);
        if (surface.valid(q) && surface.pixelColor(q) == colour) return true;
      }
    }
    return false;
  };
  const int column = form.pic1->Column();
  EXPECT_FALSE(tracedAt(column, 73.26, QColor(242, 0, 0)));
  form.ckG[2]->click();
  EXPECT_FALSE(form.Shape[2]->isHidden());
  QTest::mouseClick(form.cmdReadData, Qt::LeftButton);
  EXPECT_TRUE(tracedAt(column + 1, 73.26, QColor(242, 0, 0)));
}

TEST_F(ReadoutTest, ScaleButtonsZoomAndZeroRangeIsGuarded) {
  frmForm1& form = LoadParallel();
  form.ckLoop->setChecked(false);
  QTest::mouseClick(Find<QPushButton>(form, "cmdScaleGyro"), Qt::LeftButton);
  EXPECT_EQ(form.lblpFS1->text(), QStringLiteral("175"));
  EXPECT_EQ(form.lblmidS1->text(), QStringLiteral("0"));
  EXPECT_EQ(form.lblnFS1->text(), QStringLiteral("-175"));
  QTest::mouseClick(Find<QPushButton>(form, "cmdScaleAcc"), Qt::LeftButton);
  QTest::mouseClick(form.cmdScaleAcc, Qt::LeftButton);
  EXPECT_EQ(form.lblpFS2->text(), QStringLiteral("1.25"));
  EXPECT_EQ(form.lblnFS2->text(), QStringLiteral("-1.25"));
  EXPECT_DOUBLE_EQ(env.app.Ranges.AccelChartMax, 1.25);

  // A new reading of the gyro range resets it; the next click divides further.
  form.SETGYROSCALES(21420);
  QTest::mouseClick(form.cmdScaleGyro, Qt::LeftButton);
  EXPECT_EQ(form.lblpFS1->text(), QStringLiteral("87.5"));  // 350 / 4

  env.app.Ranges.AccelChartMax = 0.0;
  env.app.Ranges.AccelChartMin = 0.0;
  QTest::mouseClick(form.cmdReadData, Qt::LeftButton);
  EXPECT_EQ(env.app.Ranges.AccelChartMin, -1.0);
  EXPECT_EQ(form.lblnFS2->text(), QStringLiteral("0"));  // written before the guard
  QTest::mouseClick(form.cmdReadData, Qt::LeftButton);
  EXPECT_EQ(form.lblnFS2->text(), QStringLiteral("-1"));
  EXPECT_EQ(form.lblmidS2->text(), QStringLiteral("-0.5"));
}

TEST_F(ReadoutTest, PointerReadoutRoundsGyroToIntegersAndAccelToOneDecimal) {
  frmForm1& form = LoadParallel();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  form.ckLoop->setChecked(false);
  QTest::mouseClick(form.cmdReadData, Qt::LeftButton);  // coordinates of the current ranges
  const auto move = [](StripChart* chart, double fx, double fy) {
    const QPointF at(chart->width() * fx, chart->height() * fy);
    QMouseEvent event(QEvent::MouseMove, at, chart->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(chart, &event);
  };
  // Positions given by the chart coordinates they stand for: x over 0..350, y over the
  // range (gyro 350..-350, accelerometer 10..-10).
  const auto at = [&](StripChart* chart, double x, double y, double top, double bottom) {
    move(chart, x / 350.0, (top - y) / (top - bottom));
  };
  struct Case {
    StripChart* chart;
    double x;
    double y;
    QLabel* sampleLabel;
    QLabel* valueLabel;
    const char* sample;
    const char* value;
  };
  for (const Case& c :
       {Case{form.pic1, 175.0, 175.0, form.lblCurSam1, form.lblCurVal1, "175", "175"},
        Case{form.pic1, 123.4, 101.6, form.lblCurSam1, form.lblCurVal1, "123", "102"},
        Case{form.pic1, 10.7, -48.3, form.lblCurSam1, form.lblCurVal1, "11", "-48"},
        Case{form.pic2, 35.6, 4.87, form.lblCurSam2, form.lblCurVal2, "36", "4.9"},
        Case{form.pic2, 200.2, -2.93, form.lblCurSam2, form.lblCurVal2, "200", "-2.9"},
        Case{form.pic2, 80.0, -0.04, form.lblCurSam2, form.lblCurVal2, "80", "0"}}) {
    const bool gyro = c.chart == form.pic1;
    at(c.chart, c.x, c.y, gyro ? 350.0 : 10.0, gyro ? -350.0 : -10.0);
    EXPECT_EQ(c.sampleLabel->text(), QString::fromLatin1(c.sample)) << c.x << " " << c.y;
    EXPECT_EQ(c.valueLabel->text(), QString::fromLatin1(c.value)) << c.x << " " << c.y;
  }
}

TEST_F(ReadoutTest, StartupPlausibilityCheckLooksAtTheXTemperature) {
  env.SetWord(reg::XTEMP_OUT, 0x800);  // -2048 LSB: far below -99 degrees
  env.Load(1);
  EXPECT_TRUE(env.HasMessage("Temperature < -99'C,  Check Dut Connections / Power"));
  EXPECT_EQ(env.messages.messages.back().title, "");
}

}  // namespace
}  // namespace pemra
