#pragma once
// What the operational-control and calibration window tests share: the main window loaded
// on the simulated rig, a configuration window shown over it, and the sensor's registers
// as the sensor itself holds them.

#include <QLineEdit>
#include <QTest>

#include <chrono>
#include <cstdint>
#include <memory>

#include "core/Clock.h"
#include "gui/GuiTestSupport.h"

namespace pemra::testing {

// Text typed into a box as a user would: select all, type.
inline void TypeInto(QLineEdit* box, const QString& text) {
  box->selectAll();
  QTest::keyClicks(box, text);
  if (text.isEmpty()) box->clear();
}

// The main window loaded on the rig, and window W shown over it (so its option clicks
// count as a user's).
template <class W>
struct OpsRig : GuiRig {
  explicit OpsRig(int16_t interfaceType = 1, int16_t model = 21420) {
    Load(interfaceType, model);
    clock.ClearWaits();
  }
  W& Open() {
    window = std::make_unique<W>(app, form.get());
    window->show();
    return *window;
  }
  // The register word the sensor holds at a register-table entry.
  int32_t SensorWord(int16_t index) {
    return rig.Sensor().PeekRegister(static_cast<uint8_t>(session.table[index].RegAddress));
  }
  void SetSensorWord(int16_t index, uint16_t word) {
    rig.Sensor().PokeRegister(static_cast<uint8_t>(session.table[index].RegAddress), word);
  }
  // Time waited by the window itself: waits of a millisecond or more (the transports'
  // and register writes' waits are fractions of one).
  Nanoseconds WindowWaited() const {
    Nanoseconds total{0};
    for (Nanoseconds w : clock.Waits()) {
      if (w >= std::chrono::milliseconds(1)) total += w;
    }
    return total;
  }

  std::unique_ptr<W> window;
};

}  // namespace pemra::testing
