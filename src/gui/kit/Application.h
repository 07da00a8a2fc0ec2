#pragma once
// The GUI's application object: the session every window talks through, plus the values
// that belong to the windows rather than to the library (chart ranges, the manual register
// window's selected entry, the USB debug loop's stop flag, the platform name).

#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "analysis/RowSelection.h"
#include "core/DeviceModel.h"
#include "core/Selection.h"
#include "datalog/CapturePriority.h"
#include "interfaces/Session.h"

namespace pemra {

struct LoadedLog;
class TimeOfDay;

// Opens one of the windows that the main window and the USB selection dialog reach,
// modally (the log viewer and the noise window: modeless, one of each), with the given
// parent. Empty while that window does not exist in this build.
using WindowOpener = std::function<void(QWidget* parent)>;

struct WindowOpeners {
  WindowOpener Calibration;       // fmCalibration
  WindowOpener OperationControl;  // frmOperationalControl
  WindowOpener Alarms;            // frmAlarms
  WindowOpener Datalog;           // frmDatalog
  WindowOpener Registers;         // frmManualReg
  WindowOpener UsbDebug;          // frmUSBdebug
  WindowOpener OpenLog;           // frmLogViewer, asking for the log to show
  WindowOpener Noise;             // frmNoise, on the open log
  WindowOpener Evaluate;          // frmEvaluate
};

// What a window may ask of the main window without knowing its class. The main window
// fills this in while it exists; all empty when there is none (a window shown on its own).
struct MainWindowLink {
  QWidget* window = nullptr;
  // The readout's gyro scaling and the rate chart follow the range the sensor now holds.
  std::function<void(int16_t model)> SetGyroScales;
  // Stops the live readout loop (its check box is cleared).
  std::function<void()> StopLiveLoop;
  // The status bar shows the priority a burst capture's thread was granted.
  std::function<void(const CapturePriority&)> ShowCapturePriority;
};

struct AppOptions {
  bool simulate = false;                  // --simulate
  std::filesystem::path dataDir;          // data logs and listings: see ChooseDataDirectory
  std::filesystem::path configPath{std::string(kConfigFileName)};  // in the working directory
  TimeOfDay* timeOfDay = nullptr;  // for data logs in place of the local time (virtual clock)
};

class Application {
 public:
  Application(Session& session, AppOptions options);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  Session& session;
  AppOptions options;
  WindowOpeners windows;
  MainWindowLink mainWindow;

  // What reading CommPort.cfg at start found; the save at exit goes by it.
  ConfigFileStatus configStatus;

  ChartRanges Ranges;
  // While a window runs a long operation that must end cleanly (a logging run): asks it to
  // end. Closing the main window then waits for it, and the window closes the main window
  // again once the run is over when closeAfterRun is set.
  std::function<void()> cancelRun;
  bool closeAfterRun = false;
  int16_t SelectedRegister = 0;
  bool DebugLoopStop = true;
  std::string OsName;
  // The log last read by the log viewer or the noise window, for the other to analyse, and
  // the stretch of it the viewer hands on (count 0: the whole log).
  std::shared_ptr<const LoadedLog> openLog;
  RowRange openRows;

  // The decimal separator numbers are shown with (the user's locale).
  char DecimalSeparator() const { return decimalSeparator_; }

 private:
  char decimalSeparator_ = '.';
};

// The platform's own name ("Linux" on Linux), as the operating system reports it.
std::string PlatformName();

}  // namespace pemra
