// What the main window tells a user about the road to the sensor: the status bar, the
// neutral lamps, the gyro scales after an interface is chosen, one message per action, a
// complete window before the first message, scrolling on a small screen, and waits that
// keep the window responsive.

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "gui/GuiTestSupport.h"
#include "gui/dialogs/frmPort.h"
#include "gui/dialogs/frmUSBselect.h"

namespace pemra {
namespace {

using testing::GuiFake;
using testing::GuiRig;
using testing::OnModal;
using namespace std::chrono_literals;

const char* const kNoAdapters = "No USB Buffers Found, Please Verify Setup and Restart";

bool LampsNeutral(const frmForm1& form) {
  return std::all_of(form.statusFlags.begin(), form.statusFlags.end(), [](QLabel* lamp) {
    return lamp->text() == QStringLiteral("--") &&
           lamp->palette().color(QPalette::Window) == QColor(192, 192, 192);
  });
}

TEST(MainWindowState, GyroScalesComeFromTheSensorOnceAnInterfaceIsChosen) {
  for (const bool usb : {true, false}) {
    GuiRig env;
    frmForm1& form = env.Load(0, 21420);
    // Nothing answered the load's range read: no gyro scale yet.
    EXPECT_EQ(env.session.table[reg::XGYRO_OUT].RegScale, 0.0f);
    if (usb) {
      OnModal<frmUSBselect>([](frmUSBselect& d) { d.cmdExit->click(); });
      form.mnuUsb->trigger();
    } else {
      OnModal<frmPort>([](frmPort& d) {
        d.txtUser->setText(QStringLiteral("378"));
        d.cmdOK->click();
      });
      form.mnuPort->trigger();
    }
    // The rig's sensor runs at range code 4: the model's full base scale.
    for (int16_t i : {reg::XGYRO_OUT, reg::YGYRO_OUT, reg::ZGYRO_OUT}) {
      EXPECT_FLOAT_EQ(env.session.table[i].RegScale, 0.07326f) << (usb ? "usb " : "port ") << i;
    }
  }
}

TEST(MainWindowState, StatusBarAndLampsTellWhetherTheSensorAnswers) {
  struct Case {
    const char* name;
    int16_t interfaceType;
    int16_t portAddress;
    bool highSpeed;
    bool unplug;  // the adapter is lost before a one-shot reading
    const char* interfaceText;
    const char* answerText;
    bool neutral;
  };
  const Case cases[] = {
      {"none", 0, 0x378, true, false, "No interface", "no answer (select an interface)", true},
      {"port", 1, 0x378, true, false, "Parallel port 0378", "sensor answers", false},
      {"no port access", 1, 0x278, true, false, "Parallel port 0278",
       "no answer (no access to the port)", true},
      {"usb", 2, 0x378, true, false, "USB EzUsb0, high speed", "sensor answers", false},
      {"usb 1.1", 2, 0x378, false, false, "USB EzUsb0, full speed", "sensor answers", false},
      {"adapter lost", 2, 0x378, true, true, "USB adapter", "no answer (no adapter selected)",
       true},
  };
  for (const Case& c : cases) {
    sim::RigOptions options;
    options.adapters[0].highSpeed = c.highSpeed;
    GuiRig env(options);
    env.session.selection.PortAddress = c.portAddress;
    frmForm1& form = env.Load(c.interfaceType);
    if (c.unplug) {
      env.rig.SimUsb().UnplugAfter(0);
      form.ckLoop->setChecked(false);
      form.cmdReadData->click();
    }
    EXPECT_EQ(form.lblInterfaceState->text().toStdString(), c.interfaceText) << c.name;
    EXPECT_EQ(form.lblSensorState->text().toStdString(), c.answerText) << c.name;
    EXPECT_EQ(LampsNeutral(form), c.neutral) << c.name;
  }
}

TEST(MainWindowState, LoopShowsItsRateWhileItRuns) {
  GuiFake env;
  frmForm1& form = env.Load(1);
  // Every output word of the fake is 0 with no new-data flag: no sensor.
  EXPECT_EQ(form.lblSensorState->text(), QStringLiteral("no answer (every read gives 0)"));
  form.txtLoopDelay->setText(QStringLiteral("5"));
  QString shownWhileRunning;
  int taken = 0;
  QObject::connect(&form, &frmForm1::SampleTaken, [&] {
    if (++taken == 250) {
      shownWhileRunning = form.lblSampleRate->text();
      form.cmdReadData->setText(QStringLiteral("Read"));
    }
  });
  form.cmdReadData->click();
  // 5 ms per sample on the test clock, where reads take no time.
  EXPECT_EQ(shownWhileRunning, QStringLiteral("200 samples/s"));
  EXPECT_TRUE(form.lblSampleRate->text().isEmpty());
}

TEST(MainWindowState, OneNoAdapterMessagePerAction) {
  sim::RigOptions noAdapters;
  noAdapters.adapters[0].present = false;
  GuiRig env(noAdapters);
  const auto count = [&] {
    return std::count_if(env.messages.messages.begin(), env.messages.messages.end(),
                         [](const Message& m) { return m.text == kNoAdapters; });
  };
  OnModal<frmUSBselect>([](frmUSBselect& d) {
    EXPECT_TRUE(d.optUsbPort[4]->isChecked());
    EXPECT_FALSE(d.optUsbPort[0]->isEnabled());
    d.cmdExit->click();
  });
  frmForm1& form = env.Load(2);
  EXPECT_EQ(count(), 1);
  OnModal<frmUSBselect>([](frmUSBselect& d) { d.cmdExit->click(); });
  form.mnuUsb->trigger();
  EXPECT_EQ(count(), 2);
}

// Records what the main window shows when the first message arrives.
class SnapshotSink final : public MessageSink {
 public:
  void Show(const Message& message) override {
    if (form != nullptr && snapshot.empty()) {
      snapshot = {form->windowTitle(),         form->txtPowerDown->text(),
                  form->lblPDElapsed->text(),  form->txtLoopDelay->text(),
                  form->lblpFS1->text(),       form->lblpFS2->text(),
                  form->FrameDataPLot->title(), form->ckG[2]->isChecked() ? "ticked" : ""};
    }
    texts.push_back(message.text);
  }
  frmForm1* form = nullptr;
  QStringList snapshot;
  std::vector<std::string> texts;
};

TEST(MainWindowState, WindowIsCompleteBeforeTheFirstMessage) {
  struct Case {
    const char* name;
    int16_t interfaceType;
    int16_t portAddress;
    bool adapters;
  };
  for (const Case& c : {Case{"no interface", 0, 0x378, true},
                        Case{"no port access", 1, 0x278, true},
                        Case{"no adapter", 2, 0x378, false}}) {
    TestClock clock;
    SnapshotSink sink;
    sim::RigOptions options;
    options.adapters[0].present = c.adapters;
    sim::Rig rig(clock, options);
    Session session(clock, sink, rig.Port(), rig.Usb());
    QTemporaryDir dir;
    Application app(session, GuiRig::Options(dir));
    session.selection = {c.interfaceType, c.portAddress, 0, 21410};
    frmForm1 form(app);
    sink.form = &form;
    OnModal<frmUSBselect>([](frmUSBselect& d) { d.cmdExit->click(); });
    form.show();
    form.Load();
    ASSERT_FALSE(sink.texts.empty()) << c.name;
    EXPECT_EQ(sink.snapshot,
              QStringList({"Tolvane - Pemra 214xx Evaluation Software - Rev 14", "0", "0.0", "5",
                           "350", "1.5", "Data Plot   Device = 21410", "ticked"}))
        << c.name;
  }
}

TEST(MainWindowState, ControlsScrollIntoViewOnASmallScreen) {
  GuiRig env;
  frmForm1& form = env.Load(2);
  form.resize(320, 240);
  QApplication::processEvents();
  // The window can be made that small: the controls scroll instead of holding it open.
  EXPECT_EQ(form.size(), QSize(320, 240));
  QScrollArea* area = form.scrollArea;
  ASSERT_NE(area, nullptr);
  EXPECT_GT(area->horizontalScrollBar()->maximum(), 0);
  EXPECT_GT(area->verticalScrollBar()->maximum(), 0);
  const QList<QWidget*> controls = area->widget()->findChildren<QWidget*>();
  int checked = 0;
  for (QWidget* control : controls) {
    if (control->objectName().isEmpty() || control->isHidden()) continue;
    // Scrolled to the control's top-left corner, as far as the scroll bars go.
    const QPoint at = control->mapTo(area->widget(), QPoint(0, 0));
    area->horizontalScrollBar()->setValue(at.x());
    area->verticalScrollBar()->setValue(at.y());
    const QRect inViewport(control->mapTo(area->viewport(), QPoint(0, 0)), control->size());
    const QRect viewport = area->viewport()->rect();
    // A control larger than the view (a chart) must at least come into view.
    if (control->width() <= viewport.width() && control->height() <= viewport.height()) {
      EXPECT_TRUE(viewport.contains(inViewport)) << control->objectName().toStdString();
    } else {
      EXPECT_TRUE(viewport.intersects(inViewport)) << control->objectName().toStdString();
    }
    ++checked;
  }
  EXPECT_GT(checked, 60);
}

TEST(MainWindowState, LongLoopDelayLetsEventsThroughAndKeepsItsLength) {
  GuiFake env;
  frmForm1& form = env.Load(1);
  form.txtLoopDelay->setText(QStringLiteral("100"));
  Nanoseconds sampledAt{0};
  Nanoseconds handledAt{0};
  QObject::connect(&form, &frmForm1::SampleTaken, [&] {
    sampledAt = env.clock.Now();
    env.clock.ClearWaits();
    QMetaObject::invokeMethod(
        &form,
        [&] {
          handledAt = env.clock.Now();
          form.cmdReadData->setText(QStringLiteral("Read"));
        },
        Qt::QueuedConnection);
  });
  form.cmdReadData->click();
  EXPECT_LE(handledAt - sampledAt, 10ms);  // handled within the first slice of the wait
  Nanoseconds waited{0};
  for (Nanoseconds w : env.clock.Waits()) waited += w;
  EXPECT_EQ(waited, 100ms);  // the loop still waited its whole delay
}

TEST(MainWindowState, PortEntryTakesFourCharacters) {
  struct Case {
    const char* typed;  // UTF-8
    int16_t address;
  };
  for (const Case& c : {Case{"12345", 0x1234}, Case{"1\xc3\xa9", 0x10}, Case{"3BC", 0x3BC}}) {
    GuiRig env;
    frmForm1& form = env.Load(0);
    OnModal<frmPort>([&](frmPort& d) {
      d.txtUser->clear();
      d.txtUser->insert(QString::fromUtf8(c.typed));  // as typed or pasted
      d.cmdOK->click();
    });
    form.mnuPort->trigger();
    EXPECT_EQ(env.session.selection.PortAddress, c.address) << c.typed;
  }
}

}  // namespace
}  // namespace pemra
