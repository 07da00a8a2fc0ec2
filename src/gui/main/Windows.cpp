#include "gui/main/Windows.h"

#include "gui/dialogs/frmUSBdebug.h"
#include "gui/kit/Application.h"
#include "gui/windows/frmAlarms.h"
#include "gui/windows/frmDatalog.h"
#include "gui/windows/frmEvaluate.h"
#include "gui/windows/frmLogViewer.h"
#include "gui/windows/frmManualReg.h"
#include "gui/windows/frmNoise.h"

namespace pemra {

void RegisterWindows(Application& app) {
  (void)app;

  WindowOpener CalibrationOpener(Application&);  // windows/fmCalibration.cpp
  app.windows.Calibration = CalibrationOpener(app);

  WindowOpener OperationalControlOpener(Application&);  // windows/frmOperationalControl.cpp
  app.windows.OperationControl = OperationalControlOpener(app);

  app.windows.Alarms = [&app](QWidget* parent) {
    frmAlarms window(app, parent);
    window.exec();
  };

  app.windows.Datalog = [&app](QWidget* parent) {
    frmDatalog window(app, parent, app.options.timeOfDay, parent);
    window.exec();
  };

  app.windows.Registers = frmManualReg::Opener(app);

  app.windows.UsbDebug = frmUSBdebug::Opener(app.session.adapters, app.session.usbSpi,
                                              app.DebugLoopStop, app.DecimalSeparator());

  app.windows.OpenLog = frmLogViewer::Opener(app);
  app.windows.Noise = frmNoise::Opener(app);

  app.windows.Evaluate = [&app](QWidget* parent) {
    frmEvaluate window(app, parent, app.options.timeOfDay);
    window.exec();
  };
}

}  // namespace pemra
