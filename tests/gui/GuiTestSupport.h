#pragma once
// What the GUI tests share: a main window on the simulated rig with a test clock and a
// recording message sink, a transport whose register words a test sets, and a way to act
// on a modal dialog once it is open.

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "core/Clock.h"
#include "core/Message.h"
#include "core/RegisterAccess.h"
#include "gui/kit/Application.h"
#include "gui/main/frmForm1.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

namespace pemra::testing {

// Register words by SPI address (low bit ignored); records the write frames it is sent.
class FakeTransport final : public RegisterTransport {
 public:
  int32_t ReadWord(int16_t address) override {
    ++reads;
    readAddresses.push_back(address);
    const auto it = words.find(static_cast<int16_t>(address & 0x7E));
    return it == words.end() ? 0 : it->second;
  }
  void WriteFramePair(int32_t frameA, int32_t frameB) override {
    frames.push_back(frameA);
    frames.push_back(frameB);
  }
  // The 16-bit value last written to the register at this even address, from the byte
  // frames (bit 15 set, address in bits 14-8, byte in bits 7-0).
  std::optional<int32_t> Written(int32_t address) const {
    std::optional<int32_t> low;
    std::optional<int32_t> high;
    for (int32_t f : frames) {
      if (!(f & 0x8000)) continue;
      const int32_t a = (f >> 8) & 0x7F;
      if (a == address) low = f & 0xFF;
      if (a == address + 1) high = f & 0xFF;
    }
    if (!low || !high) return std::nullopt;
    return (*high << 8) | *low;
  }

  std::map<int16_t, int32_t> words;
  std::vector<int32_t> frames;
  int reads = 0;
  std::vector<int16_t> readAddresses;  // in the order read
};

// Runs `action` on the first modal dialog of type D that opens (checked from the event
// loop, so from inside its exec()). Gives up after a few hundred event-loop passes.
template <class D>
void OnModal(std::function<void(D&)> action) {
  auto* timer = new QTimer(qApp);  // owned by the application: never leaked if no dialog opens
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, action = std::move(action)] {
    if (auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      action(*dialog);
    } else if (++*tries > 500) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(0);
}

// A main window on the simulated rig, not yet loaded.
struct GuiRig {
  explicit GuiRig(sim::RigOptions options = {})
      : rig(clock, std::move(options)),
        session(clock, messages, rig.Port(), rig.Usb()),
        app(session, Options(dir)) {
    session.selection.PortAddress = 0x378;
  }

  static AppOptions Options(const QTemporaryDir& dir) {
    AppOptions o;
    o.simulate = true;
    o.dataDir = dir.path().toStdString();
    o.configPath = (dir.path() + QStringLiteral("/CommPort.cfg")).toStdString();
    return o;
  }

  frmForm1& Form() {
    if (!form) {
      form = std::make_unique<frmForm1>(app);
      form->show();  // laid out, so clicks land where a user's would
      // The offscreen screen is 800x600; tests lay the window out as a roomier screen would.
      form->resize(1180, 720);
    }
    return *form;
  }

  // Loads with the given interface and model (the values the configuration file gave).
  frmForm1& Load(int16_t interfaceType, int16_t model = 21420) {
    session.selection.InterfaceType = interfaceType;
    session.selection.DeviceType = model;
    Form().Load();
    return *form;
  }

  bool HasMessage(const std::string& text) const {
    for (const Message& m : messages.messages) {
      if (m.text == text) return true;
    }
    return false;
  }

  QTemporaryDir dir;
  TestClock clock;
  RecordingMessageSink messages;
  sim::Rig rig;
  Session session;
  Application app;
  std::unique_ptr<frmForm1> form;
};

// A main window on the parallel port whose register words the test sets.
struct GuiFake : GuiRig {
  GuiFake() {
    session.access.SetParallelTransport(&fake);
    fake.words[static_cast<int16_t>(session.table[reg::SENS_AVG].RegAddress)] = 0x0402;
  }
  void SetWord(int16_t index, int32_t word) {
    fake.words[static_cast<int16_t>(session.table[index].RegAddress)] = word;
  }
  FakeTransport fake;
};

}  // namespace pemra::testing
