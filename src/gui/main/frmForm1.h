#pragma once
// The main window: interface and model menus, the output panel with the live readout, the
// status lamps, self-test, power-down and the two strip charts.

#include <QMainWindow>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/DeviceModel.h"
#include "gui/kit/Application.h"
#include "gui/kit/ChartZoom.h"
#include "gui/main/LinkStatus.h"

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QScrollArea;

namespace pemra {

class StripChart;

class frmForm1 : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kOutputs = 11;  // output boxes 1..11

  explicit frmForm1(Application& app, QWidget* parent = nullptr);
  ~frmForm1() override;

  // Runs once when start-up shows the window: opens the saved interface, applies the saved
  // model, takes the first reading and ticks "Loop".
  void Load();

  // True when an interface is usable; otherwise reports it and deselects.
  bool Check_Interface();

  // Applies a model to the register table and to this window.
  void SetDevice(int16_t model);
  void SETGYROSCALES(int16_t model);

  // One pass over the outputs, or the continuous readout while the caption reads "STOP".
  void ReadData();
  // Draws one sample on a chart; `values` is indexed by register-table index.
  void PlotDataPointsGy(const std::array<double, 13>& values, double& top, double& bottom);
  void PlotDataPointsAcc(const std::array<double, 13>& values, double& top, double& bottom);

  // Handlers.
  void mnuPort_Click();
  void mnuUsb_Click();
  void mnuFtdi_Click();
  void mnuSpidev_Click();
  void mnuModel_Click(int16_t model);
  void MnuCal_Click();
  void mnuOperation_Click();
  void MnuAlarms_Click();
  void mnuDatalog_Click();
  void mnuRegisters_Click();
  void mnuOpenLog_Click();
  void mnuNoise_Click();
  void mnuEvaluate_Click();
  void MnuExit_Click();
  void CmdUpdateStatus_Click();
  void optSTON_Click();
  void optSTOFF_Click();
  void txtPowerDown_Change();
  void cmdPowerDown_Click();
  void cmdReadData_Click();
  void ckLoop_Click();
  void txtLoopDelay_Change();
  void cmdScaleGyro_Click();
  void cmdScaleAcc_Click();
  void ckG_Click(int index);
  void pic1_MouseMove(double x, double y);
  void pic2_MouseMove(double x, double y);

  // The shutdown has run (the configuration file is written): the program should end.
  bool ShutdownDone() const { return shutdownDone_; }

 signals:
  // One sample of the continuous readout has been shown, plotted and followed by a status
  // read.
  void SampleTaken();
  // The shutdown has run; the program ends now.
  void ShutdownFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void BuildStatusBar();
  // The first size: what the controls want, within the screen's available area.
  void FitToScreen();
  void BuildMenus();
  QGroupBox* BuildOutputPanel();
  QGroupBox* BuildStatusPanel();
  QGroupBox* BuildSelfTestPanel();
  QGroupBox* BuildPowerDownPanel();
  QGroupBox* BuildChartPanel();
  void ConnectHandlers();

  void Shutdown();
  // The parts of the load that need no sensor and show no message, so the window is
  // complete before anything is reported.
  void PrepareWindow();
  // Shows the saved model's captions, ranges and chart title before the interface opens.
  void PreviewDevice();
  void TickInterfaceMenus();
  // An interface chosen in a dialog has become usable: the gyro scales come from its
  // sensor.
  void InterfaceChosen();
  // The status bar's interface and answer texts and, when no interface is in use, the
  // neutral lamps.
  void ShowLinkState();
  void ShowNeutralLamps();
  void ShowSampleRate(const std::string& text);
  // "Capture: real-time (SCHED_FIFO 10)": what a burst capture's thread gets (or got).
  void ShowCapturePriority(const CapturePriority& priority);
  // Delay on the window thread: a wait of 20 ms or more (the loop delay, the pause after a
  // power-down) is cut into slices between which pending events are processed, so the
  // window stays responsive; the whole wait is as long as Delay's.
  void ResponsiveDelay(float milliseconds);
  void ApplyDeviceView(const DeviceView& view);
  void OpenWindow(const WindowOpener& opener);
  // Reads outputs 1..11 into the boxes and the sample set. False when the USB adapter was
  // deselected by a failure during the reads, so the values no longer come from the sensor.
  bool OneSample();
  bool InterfaceLost() const;
  void ShowSupplyState(const std::string& shown);
  void ShowRangeLabels(QLabel* topLabel, QLabel* midLabel, QLabel* bottomLabel, double top,
                       double bottom, std::array<double, 2>& shownRange);
  double LoopDelayValue() const;
  QString Number(double value) const;

  Application& app_;
  Session& session_;
  ChartZoom gyroZoom_;
  ChartZoom accZoom_;
  std::array<double, 13> sampleSet_{};
  std::optional<bool> supplyLow_;       // box 1 painted red (true) or white (false)
  std::array<std::optional<bool>, 6> statusShown_;  // lamp state last shown
  std::array<double, 2> gyroRangeShown_{qQNaN(), qQNaN()};
  std::array<double, 2> accRangeShown_{qQNaN(), qQNaN()};
  SensorAnswer answer_ = SensorAnswer::NoInterface;
  LoopRateMeter sampleRate_;
  bool closing_ = false;
  bool shutdownDone_ = false;

 public:
  // Controls, by their names (arrays indexed as named: txtReadReg[1..11], ckG[2..7]).
  QMenu* mnuInterface = nullptr;
  QAction* mnuPort = nullptr;
  QAction* mnuFtdi = nullptr;
  QAction* mnuSpidev = nullptr;
  QAction* mnuUsb = nullptr;
  QMenu* mnuDevice = nullptr;
  std::array<QAction*, 9> mnuModels{};  // mnu21410 .. mnu21490
  QMenu* mnuConfiguration = nullptr;
  QAction* MnuCal = nullptr;
  QAction* mnuOperation = nullptr;
  QAction* MnuAlarms = nullptr;
  QAction* mnuDatalog = nullptr;
  QAction* mnuRegisters = nullptr;
  QMenu* mnuAnalysis = nullptr;
  QAction* mnuOpenLog = nullptr;
  QAction* mnuNoise = nullptr;
  QAction* mnuEvaluate = nullptr;
  QAction* MnuExit = nullptr;

  QGroupBox* frameSelfTest = nullptr;
  QRadioButton* optSTON = nullptr;
  QRadioButton* optSTOFF = nullptr;

  QGroupBox* FrmStatus = nullptr;
  QPushButton* CmdUpdateStatus = nullptr;
  std::array<QLabel*, 6> statusNames{};  // lblLowSupply .. lblAlarm2Set
  std::array<QLabel*, 6> statusFlags{};  // lblLowSupplyFlag .. lblAlarm2SetFlag

  QGroupBox* framePowerdown = nullptr;
  QLineEdit* txtPowerDown = nullptr;
  QPushButton* cmdPowerDown = nullptr;
  QLabel* lblPDElapsed = nullptr;

  QGroupBox* frameDataReg = nullptr;
  std::array<QLineEdit*, kOutputs + 1> txtReadReg{};
  std::array<QLabel*, kOutputs + 1> lblReadReg{};
  QPushButton* cmdReadData = nullptr;
  QCheckBox* ckLoop = nullptr;
  QLineEdit* txtLoopDelay = nullptr;
  std::array<QCheckBox*, 8> ckG{};
  std::array<QFrame*, 8> Shape{};

  QGroupBox* FrameDataPLot = nullptr;
  StripChart* pic1 = nullptr;
  StripChart* pic2 = nullptr;
  QPushButton* cmdScaleGyro = nullptr;
  QPushButton* cmdScaleAcc = nullptr;
  QLabel* lblpFS1 = nullptr;
  QLabel* lblmidS1 = nullptr;
  QLabel* lblnFS1 = nullptr;
  QLabel* lblpFS2 = nullptr;
  QLabel* lblmidS2 = nullptr;
  QLabel* lblnFS2 = nullptr;
  std::array<QLabel*, 5> lblPlotX{};
  std::array<QFrame*, 5> LineX{};
  QLabel* LblXaxis = nullptr;
  QLabel* lblCurSam1 = nullptr;
  QLabel* lblCurVal1 = nullptr;
  QLabel* lblCurSam2 = nullptr;
  QLabel* lblCurVal2 = nullptr;

  // The controls scroll inside this area when the screen is too small for them.
  QScrollArea* scrollArea = nullptr;
  // Status bar: the interface in use, whether the sensor answers, the live loop's rate, the
  // burst capture's priority.
  QLabel* lblInterfaceState = nullptr;
  QLabel* lblSensorState = nullptr;
  QLabel* lblSampleRate = nullptr;
  QLabel* lblCapturePriority = nullptr;
};

// Status bits shown by the six lamps, in lamp order.
inline constexpr std::array<int, 6> kStatusLampBits = {0, 1, 2, 3, 8, 9};

}  // namespace pemra
