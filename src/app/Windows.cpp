#include "app/Windows.h"

#include "app/Application.h"

namespace pemra {

void RegisterWindows(Application& app) {
  (void)app;

  WindowOpener CalibrationOpener(Application&);  // windows/fmCalibration.cpp
  app.windows.Calibration = CalibrationOpener(app);

  WindowOpener OperationalControlOpener(Application&);  // windows/frmOperationalControl.cpp
  app.windows.OperationControl = OperationalControlOpener(app);

  // Alarms

  // Datalog

  // Registers

  // USB debug
}

}  // namespace pemra
