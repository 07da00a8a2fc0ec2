#include "app/Windows.h"

#include "app/Application.h"
#include "app/frmForm1.h"
#include "datalog/frmDatalog.h"

namespace pemra {

void RegisterWindows(Application& app) {
  (void)app;

  // Calibration

  // Operation control

  // Alarms

  app.windows.Datalog = [&app](QWidget* parent) {
    frmDatalog window(app, qobject_cast<frmForm1*>(parent), nullptr, parent);
    window.exec();
  };

  // Registers

  // USB debug
}

}  // namespace pemra
