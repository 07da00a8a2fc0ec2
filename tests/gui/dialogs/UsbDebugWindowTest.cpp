// The USB adapter debug window on the simulated adapter: what it sends for the typed word
// count, words, delay and static bits, and how its exchange loop ends.

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "gui/GuiTestSupport.h"
#include "gui/dialogs/frmUSBdebug.h"
#include "gui/dialogs/frmUSBselect.h"

namespace pemra {
namespace {

using testing::OnModal;

struct DebugRig : testing::GuiRig {
  frmUSBdebug& Open() {
    Load(2);
    window = std::make_unique<frmUSBdebug>(session.adapters, session.usbSpi, app.DebugLoopStop,
                                           '.', form.get());
    window->show();
    messages.messages.clear();
    return *window;
  }
  // Bytes of the last command sent on pipe 0.
  std::vector<uint8_t> LastCommand() {
    const auto& transfers = rig.SimUsb().Transfers();
    for (auto it = transfers.rbegin(); it != transfers.rend(); ++it) {
      if (it->pipe == 0 && !it->in) return it->bytes;
    }
    return {};
  }
  // Runs the loop; `during` acts from inside it. A loop still running after 2000 passes of
  // the event queue is stopped and reported.
  bool RunLoop(std::function<void()> during) {
    auto passes = std::make_shared<int>(0);
    bool runaway = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&, passes] {
      if (++*passes == 3) during();
      if (*passes > 2000) {
        runaway = true;
        app.DebugLoopStop = true;
      }
    });
    timer.start(0);
    window->cmdLoop->click();
    return !runaway;
  }
  std::unique_ptr<frmUSBdebug> window;
};

TEST(UsbDebugWindow, WordCountIsHeldToOneToSixteen) {
  const std::pair<const char*, int> cases[] = {
      {"0", 1}, {"40", 16}, {"3", 3}, {"-5", 1}, {"300", 16}, {"2.5", 2}, {"x", 1}};
  DebugRig env;
  frmUSBdebug& w = env.Open();  // on the selected adapter
  EXPECT_TRUE(w.txtUsbPort[0]->text().startsWith(QStringLiteral("FIFO4 - ")));
  EXPECT_EQ(w.txtUsbPort[1]->text(), QStringLiteral("None"));
  EXPECT_TRUE(w.optUsbPort[0]->isChecked() && w.optSpiChan[1]->isChecked());
  for (const auto& [typed, count] : cases) {
    SCOPED_TRACE(typed);
    w.txtNumWords->setText(QString::fromLatin1(typed));
    w.cmdWriteSpi->click();
    EXPECT_EQ(w.txtNumWords->text(), QString::number(count));
    const std::vector<uint8_t> sent = env.LastCommand();
    ASSERT_EQ(sent.size(), size_t(2 * count + 3));
    EXPECT_EQ(sent[0], 0x0D);
    EXPECT_EQ(sent[2], count);
  }
}

TEST(UsbDebugWindow, WordsAreSentInHexAndRewritten) {
  DebugRig env;
  frmUSBdebug& w = env.Open();
  w.txtNumWords->setText(QStringLiteral("3"));
  w.txtWriteSpi[1]->setText(QStringLiteral("1a"));
  w.txtWriteSpi[2]->clear();
  w.txtWriteSpi[3]->setText(QStringLiteral("3e00"));
  w.txtWriteSpi[4]->setText(QStringLiteral("7"));
  w.optSpiChan[3]->click();
  w.cmdPolarity->click();
  w.cmdWriteSpi->click();
  EXPECT_EQ(env.LastCommand(),
            (std::vector<uint8_t>{0x0E, 3, 3, 0x00, 0x1A, 0x00, 0x00, 0x3E, 0x00}));
  EXPECT_EQ(w.txtWriteSpi[1]->text(), QStringLiteral("1A"));
  EXPECT_EQ(w.txtWriteSpi[2]->text(), QStringLiteral("0"));
  EXPECT_EQ(w.txtWriteSpi[3]->text(), QStringLiteral("3E00"));
  EXPECT_TRUE(w.txtWriteSpi[4]->text().isEmpty());
  for (int i = 1; i <= 16; ++i) EXPECT_EQ(w.txtReadSpi[i]->text().isEmpty(), i > 3) << i;
}

TEST(UsbDebugWindow, DelayIsHeldToAByteOnEnter) {
  const std::pair<const char*, int> cases[] = {{"0", 1}, {"300", 255}, {"12.6", 13}, {"40", 40}};
  DebugRig env;
  frmUSBdebug& w = env.Open();
  for (const auto& [typed, delay] : cases) {
    SCOPED_TRACE(typed);
    w.txtLoopDelay->setText(QString::fromLatin1(typed));
    QTest::keyClick(w.txtLoopDelay, Qt::Key_Return);
    EXPECT_EQ(env.LastCommand(), (std::vector<uint8_t>{0x0B, uint8_t(delay)}));
    EXPECT_EQ(w.txtLoopDelay->text(), QString::number(delay));
  }
  EXPECT_TRUE(w.isVisible());  // Enter pressed no button
}

TEST(UsbDebugWindow, StaticBitsFromTheBoxesAndBack) {
  DebugRig env;
  frmUSBdebug& w = env.Open();
  for (int k = 2; k <= 5; ++k) w.chkStaticBits[k]->setChecked(k == 3 || k == 5);
  w.cmdSetSpiBits->click();
  EXPECT_EQ(env.LastCommand(), (std::vector<uint8_t>{0x0C, 0x50}));

  uint8_t bits = 0x28;
  env.session.usbSpi.SetSpiBits(bits);
  w.cmdReadBits->click();
  for (int k = 2; k <= 5; ++k) EXPECT_EQ(w.chkStaticBits[k]->isChecked(), k == 2 || k == 4) << k;
}

TEST(UsbDebugWindow, WithoutABufferNothingIsSent) {
  DebugRig env;
  frmUSBdebug& w = env.Open();
  w.optUsbPort[4]->click();
  EXPECT_FALSE(w.frameManual->isEnabled());
  EXPECT_FALSE(env.session.adapters.UsbSelected);
  // A slot chosen after "None" is not selected again until a search: nothing goes out.
  const uint64_t before = env.rig.SimUsb().TransferCount();
  w.optUsbPort[0]->click();
  EXPECT_TRUE(w.frameManual->isEnabled());
  w.cmdWriteSpi->click();
  EXPECT_EQ(env.rig.SimUsb().TransferCount(), before);
  ASSERT_EQ(env.messages.messages.size(), 3u);  // delay and bits read, then the write
  for (const Message& m : env.messages.messages) EXPECT_EQ(m.text, "Please Select a Buffer first");
  EXPECT_TRUE(w.optUsbPort[4]->isChecked());
  EXPECT_FALSE(w.frameManual->isEnabled());
  EXPECT_TRUE(env.app.DebugLoopStop);

  w.cmdFindEzUsb->click();  // a search selects the adapter again
  EXPECT_TRUE(w.optUsbPort[0]->isChecked());
  EXPECT_TRUE(env.session.adapters.UsbSelected);
}

TEST(UsbDebugWindow, LoopEndsOnStopOnCloseAndWithTheMainWindow) {
  struct Case { const char* how; std::function<void(DebugRig&)> stop; };
  const Case cases[] = {
      {"Stop", [](DebugRig& env) { env.window->cmdLoop->click(); }},
      {"None", [](DebugRig& env) { env.window->optUsbPort[4]->click(); }},
      {"OK", [](DebugRig& env) { env.window->cmdExit->click(); }},
      {"main window", [](DebugRig& env) { env.form->close(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    DebugRig env;
    frmUSBdebug& w = env.Open();
    w.txtNumWords->setText(QStringLiteral("2"));
    const uint64_t before = env.rig.SimUsb().TransferCount();
    ASSERT_TRUE(env.RunLoop([&] {
      EXPECT_EQ(w.cmdLoop->text(), QStringLiteral("Stop"));
      c.stop(env);
    }));
    EXPECT_GT(env.rig.SimUsb().TransferCount(), before + 4);  // several passes ran
    EXPECT_EQ(w.cmdLoop->text(), QStringLiteral("Loop"));
    EXPECT_TRUE(env.app.DebugLoopStop);
    EXPECT_TRUE(env.messages.messages.empty());
  }
}

TEST(UsbDebugWindow, FailedExchangeEndsTheLoop) {
  DebugRig env;
  frmUSBdebug& w = env.Open();
  ASSERT_TRUE(env.RunLoop([&] { env.rig.SimUsb().FailNthTransfer(1); }));
  EXPECT_EQ(w.cmdLoop->text(), QStringLiteral("Loop"));
  EXPECT_FALSE(env.session.adapters.UsbSelected);
  EXPECT_TRUE(w.optUsbPort[4]->isChecked());
  EXPECT_FALSE(w.frameManual->isEnabled());
  ASSERT_EQ(env.messages.messages.size(), 1u);
  EXPECT_EQ(env.messages.messages[0].text, "Error Writing SPI");
}

// Choosing an adapter sets its static bits first, then its delay between words.
TEST(UsbDebugWindow, ChoosingAnAdapterSendsTheStaticBitsBeforeTheDelay) {
  DebugRig env;
  frmUSBdebug& w = env.Open();
  const size_t mark = env.rig.SimUsb().Transfers().size();
  w.optUsbPort[0]->click();
  std::vector<uint8_t> commands;
  const auto& transfers = env.rig.SimUsb().Transfers();
  for (size_t i = mark; i < transfers.size(); ++i) {
    if (transfers[i].pipe == 0 && !transfers[i].in && !transfers[i].bytes.empty()) {
      commands.push_back(transfers[i].bytes[0]);
    }
  }
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(commands[0], 0x0C);  // static bits
  EXPECT_EQ(commands[1], 0x0B);  // delay
}

TEST(UsbDebugWindow, OpensFromTheSelectionDialogAndIsKept) {
  DebugRig env;
  env.Load(2);
  QString words;
  for (int opening = 0; opening < 2; ++opening) {
    // Each opening at the main window's corner, wherever the main window has gone (the
    // window is as wide as the small offscreen screen: it moves up and down only).
    env.form->move(0, 40 + 7 * opening);
    OnModal<frmUSBselect>([&](frmUSBselect& select) {
      OnModal<frmUSBdebug>([&](frmUSBdebug& debug) {
        EXPECT_EQ(debug.parentWidget(), env.form.get());
        EXPECT_EQ(debug.pos(), env.form->frameGeometry().topLeft()) << opening;
        words = debug.txtWriteSpi[5]->text();
        debug.txtWriteSpi[5]->setText(QStringLiteral("BEEF"));
        debug.cmdExit->click();
      });
      select.cmdDebugUsb->click();
      select.cmdExit->click();
    });
    env.form->mnuUsb_Click();
  }
  EXPECT_EQ(words, QStringLiteral("BEEF"));
}

}  // namespace
}  // namespace pemra
