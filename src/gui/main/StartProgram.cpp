#include "gui/main/StartProgram.h"

#include <QApplication>

#include <filesystem>

#include "core/DeviceModel.h"
#include "core/RegisterTable.h"
#include "core/Timing.h"

namespace pemra {

sim::RigOptions SimulatedRigOptions(const std::filesystem::path& configPath) {
  sim::RigOptions options;
  Selection saved;
  if (ReadConfigFile(saved, configPath) && IsKnownModel(saved.DeviceType))
    options.model = saved.DeviceType;
  return options;
}

void PrepareSession(Application& app) {
  Session& session = app.session;
  session.parallel.PortIoEnabled = false;
  app.DebugLoopStop = true;
  session.usbSpi.SpiPolarityPos = true;
  session.usbSpi.CselChannel = 1;
  session.usbSpi.StaticBits = 120;
  session.usbSpi.UsbSpiDelay = 25;
  session.selection.FactoryMode = 0;
  session.selection.InterfaceType = 0;

  // Temporary files of a write that was killed part-way are of no use to anyone.
  RemoveStaleConfigTemporaries(app.options.configPath);
  app.configStatus = LoadConfigFile(session.selection, app.options.configPath);
  if (app.configStatus.state == ConfigFileState::Missing && app.options.simulate) {
    // A first run on the simulated sensor shows live data at once.
    session.selection.InterfaceType = 2;
    session.selection.DeviceType = kPrimaryModel;
  }
  if (app.configStatus.state == ConfigFileState::Unreadable) {
    // Said once, here: the file keeps the user's settings, so it is not replaced at exit.
    session.messages.Show({app.configStatus.reason +
                               "\r\nThe saved settings are not used, and the file is left as "
                               "it is at exit.",
                           "", MessageIcon::Warning});
  }
  InitRegisterTable(session.table);
}

std::unique_ptr<frmForm1> StartProgram(Application& app) {
  // No "LOADING..." window: with the delay measured against the monotonic clock, start-up
  // up to the main window takes milliseconds, too short for the window to be seen.
  CalibrateDelay(app.session.clock);
  PrepareSession(app);

  auto form = std::make_unique<frmForm1>(app);
  form->show();
  form->Load();
  return form;
}

}  // namespace pemra
