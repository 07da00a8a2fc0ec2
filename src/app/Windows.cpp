#include "app/Windows.h"

#include "app/Application.h"

namespace pemra {

void RegisterWindows(Application& app) {
  (void)app;

  // Calibration

  // Operation control

  // Alarms

  // Datalog

  // Registers

  // USB debug
}

}  // namespace pemra
