#include "gui/main/frmForm1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>
#include <string>

#include "core/NumberText.h"
#include "core/Timing.h"
#include "gui/dialogs/frmFtdiSelect.h"
#include "gui/dialogs/frmPort.h"
#include "gui/dialogs/frmSpidevSelect.h"
#include "gui/dialogs/frmUSBselect.h"
#include "gui/kit/EntryRules.h"
#include "gui/kit/StripChart.h"
#include "gui/main/Windows.h"

#ifndef PEMRA_VERSION_MAJOR
#define PEMRA_VERSION_MAJOR 14
#endif

namespace pemra {

namespace {

const QColor kAlarmRed(255, 0, 0);
const QColor kOkGreen(0, 255, 0);
const QColor kNeutralGrey(192, 192, 192);
const QString kNeutralText = QStringLiteral("--");

// Trace colours of the channels of each chart (X, Y, Z).
const std::array<QColor, 3> kTraceColours = {QColor(242, 0, 0), QColor(0, 150, 0),
                                             QColor(0, 0, 150)};

void SetBackground(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(role, colour);
  widget->setPalette(palette);
}

constexpr auto kPowerDownPoll = std::chrono::milliseconds(10);

}  // namespace

frmForm1::frmForm1(Application& app, QWidget* parent)
    : QMainWindow(parent), app_(app), session_(app.session) {
  setObjectName(QStringLiteral("frmForm1"));
  // The menus open the windows through the application's openers.
  RegisterWindows(app_);
  BuildControls();
  app_.mainWindow = {this, [this](int16_t model) { SETGYROSCALES(model); },
                     [this] { ckLoop->setChecked(false); },
                     [this](const CapturePriority& p) { ShowCapturePriority(p); }};
  ConnectHandlers();
  ShowNeutralLamps();
  FitToScreen();
}

frmForm1::~frmForm1() {
  if (app_.mainWindow.window == this) app_.mainWindow = {};
}

QString frmForm1::Number(double value) const {
  return QString::fromStdString(GeneralText(value, app_.DecimalSeparator()));
}

void frmForm1::ConnectHandlers() {
  connect(mnuPort, &QAction::triggered, this, &frmForm1::mnuPort_Click);
  connect(mnuUsb, &QAction::triggered, this, &frmForm1::mnuUsb_Click);
  connect(mnuFtdi, &QAction::triggered, this, &frmForm1::mnuFtdi_Click);
  connect(mnuSpidev, &QAction::triggered, this, &frmForm1::mnuSpidev_Click);
  for (size_t i = 0; i < kModelCodes.size(); ++i) {
    const int16_t model = kModelCodes[i];
    connect(mnuModels[i], &QAction::triggered, this, [this, model] { mnuModel_Click(model); });
  }
  connect(MnuCal, &QAction::triggered, this, &frmForm1::MnuCal_Click);
  connect(mnuOperation, &QAction::triggered, this, &frmForm1::mnuOperation_Click);
  connect(MnuAlarms, &QAction::triggered, this, &frmForm1::MnuAlarms_Click);
  connect(mnuDatalog, &QAction::triggered, this, &frmForm1::mnuDatalog_Click);
  connect(mnuRegisters, &QAction::triggered, this, &frmForm1::mnuRegisters_Click);
  connect(mnuOpenLog, &QAction::triggered, this, &frmForm1::mnuOpenLog_Click);
  connect(mnuNoise, &QAction::triggered, this, &frmForm1::mnuNoise_Click);
  connect(mnuEvaluate, &QAction::triggered, this, &frmForm1::mnuEvaluate_Click);
  connect(MnuExit, &QAction::triggered, this, &frmForm1::MnuExit_Click);
  // The windows of later menu items are only reachable once they are part of the program.
  MnuCal->setEnabled(static_cast<bool>(app_.windows.Calibration));
  mnuOperation->setEnabled(static_cast<bool>(app_.windows.OperationControl));
  MnuAlarms->setEnabled(static_cast<bool>(app_.windows.Alarms));
  mnuDatalog->setEnabled(static_cast<bool>(app_.windows.Datalog));
  mnuRegisters->setEnabled(static_cast<bool>(app_.windows.Registers));
  mnuOpenLog->setEnabled(static_cast<bool>(app_.windows.OpenLog));
  mnuNoise->setEnabled(static_cast<bool>(app_.windows.Noise));
  mnuEvaluate->setEnabled(static_cast<bool>(app_.windows.Evaluate));

  connect(CmdUpdateStatus, &QPushButton::clicked, this, &frmForm1::CmdUpdateStatus_Click);
  connect(optSTON, &QRadioButton::clicked, this, &frmForm1::optSTON_Click);
  connect(optSTOFF, &QRadioButton::clicked, this, &frmForm1::optSTOFF_Click);
  connect(txtPowerDown, &QLineEdit::textChanged, this, &frmForm1::txtPowerDown_Change);
  connect(cmdPowerDown, &QPushButton::clicked, this, &frmForm1::cmdPowerDown_Click);

  connect(cmdReadData, &QPushButton::clicked, this, &frmForm1::cmdReadData_Click);
  connect(ckLoop, &QCheckBox::toggled, this, &frmForm1::ckLoop_Click);
  connect(txtLoopDelay, &QLineEdit::textChanged, this, &frmForm1::txtLoopDelay_Change);
  connect(cmdScaleGyro, &QPushButton::clicked, this, &frmForm1::cmdScaleGyro_Click);
  connect(cmdScaleAcc, &QPushButton::clicked, this, &frmForm1::cmdScaleAcc_Click);
  for (int i = 2; i <= 7; ++i) {
    connect(ckG[i], &QCheckBox::toggled, this, [this, i] { ckG_Click(i); });
  }
  connect(pic1, &StripChart::PointerMoved, this, &frmForm1::pic1_MouseMove);
  connect(pic2, &StripChart::PointerMoved, this, &frmForm1::pic2_MouseMove);
}

void frmForm1::PrepareWindow() {
  // Trace colours: X red, Y green, Z blue on both charts.
  for (int k = 0; k < 3; ++k) {
    pic1->SetTraceColour(k, kTraceColours[k]);
    pic2->SetTraceColour(k, kTraceColours[k]);
  }
  app_.OsName = PlatformName();

  for (int i = 2; i <= 7; ++i) {
    ckG[i]->setChecked(true);
    Shape[i]->setVisible(true);
  }
  lblCurVal1->setText(QStringLiteral("0"));
  lblCurSam1->setText(QStringLiteral("0"));
  lblCurVal2->setText(QStringLiteral("0"));
  lblCurSam2->setText(QStringLiteral("0"));
  txtLoopDelay->setText(QStringLiteral("5"));
  PreviewDevice();
  ShowRangeLabels(lblpFS1, lblmidS1, lblnFS1, app_.Ranges.GyroChartMax,
                  app_.Ranges.GyroChartMin, gyroRangeShown_);
  setWindowTitle(QStringLiteral("Tolvane - Pemra 214xx Evaluation Software - Rev %1")
                     .arg(PEMRA_VERSION_MAJOR));
  app_.SelectedRegister = 0;
  // The power-down defaults are shown with no interface too, so no box is left empty.
  txtPowerDown->setText(QStringLiteral("0"));
  lblPDElapsed->setText(QStringLiteral("0.0"));
  ShowLinkState();
}

void frmForm1::PreviewDevice() {
  // The saved model applied to copies, with no transport: nothing is sent and nothing is
  // reported. SetDevice applies it for real once the interface is open.
  RegisterTable table = session_.table;
  Selection selection;
  RegisterAccess access(table, selection, session_.clock);
  ChartRanges ranges = app_.Ranges;
  RecordingMessageSink quiet;
  ApplyDeviceView(pemra::SetDevice(session_.selection.DeviceType, selection, access, ranges,
                                   quiet, app_.DecimalSeparator()));
  for (QAction* item : mnuModels) item->setChecked(false);
}

void frmForm1::Load() {
  Selection& selection = session_.selection;
  PrepareWindow();

  // Open the saved interface. On Linux the parallel port always takes the port-access step
  // (once per run) and USB is never refused.
  if (selection.InterfaceType == 1) {
    if (!session_.parallel.PortIoEnabled) session_.parallel.EnablePortAccess();
    if (session_.parallel.PortIoEnabled) session_.parallel.ParallelPortInit();
    mnuPort->setChecked(true);
  } else if (selection.InterfaceType == 2) {
    session_.adapters.FindAdapters();
    if (session_.adapters.UsbSelected) {
      mnuUsb->setChecked(true);
      session_.usbSpi.SetSpiBits(session_.usbSpi.StaticBits);
      session_.usbSpi.SetSpiDelay(session_.usbSpi.UsbSpiDelay);
    } else {
      // The search has just reported what it found: the dialog shows that result rather
      // than searching (and reporting) again.
      frmUSBselect dialog(session_.adapters, session_.usbSpi, app_.DebugLoopStop,
                          app_.windows.UsbDebug, app_.DecimalSeparator(), this);
      dialog.searchOnShow = false;
      dialog.exec();
      selection.InterfaceType = session_.adapters.UsbSelected ? 2 : 0;
    }
  } else if (selection.InterfaceType == kInterfaceFtdi) {
    // The saved board (or the first one found); when it cannot be opened, the choice.
    if (!session_.ftdi.Select(selection.Device)) {
      frmFtdiSelect dialog(session_.ftdi, selection, this);
      dialog.exec();
      if (!session_.ftdi.FtdiSelected) selection.InterfaceType = 0;
    }
  } else if (selection.InterfaceType == kInterfaceSpidev) {
    if (!session_.spidev.Select(selection.Device)) {
      frmSpidevSelect dialog(session_.spidev, selection, this);
      dialog.exec();
      if (!session_.spidev.SpidevSelected) selection.InterfaceType = 0;
    }
  } else {
    selection.InterfaceType = 0;
    ShowLinkState();
    session_.messages.Show({"Please select an interface before taking data", "", {}});
  }
  ShowLinkState();

  SetDevice(selection.DeviceType);

  TickInterfaceMenus();
  if (selection.InterfaceType < kInterfaceParallel || selection.InterfaceType > kInterfaceSpidev) {
    return;
  }

  CmdUpdateStatus_Click();

  RegisterAccess& access = session_.access;
  access.ReadRegister(reg::MSC_CTRL);
  access.MscCtrlShadow = access.RawValue;
  access.RefreshControlShadows();
  SETGYROSCALES(selection.DeviceType);

  ReadData();

  // Plausibility of the first reading: the X temperature output.
  const std::optional<double> temperature =
      NumericValue(txtReadReg[reg::XTEMP_OUT]->text(), QChar::fromLatin1(app_.DecimalSeparator()));
  if (temperature && *temperature > 600.0) {
    session_.messages.Show({"Temperature > 600'C,  Check Dut Connections / Power", "", {}});
  } else if (temperature && *temperature < -99.0) {
    session_.messages.Show({"Temperature < -99'C,  Check Dut Connections / Power", "", {}});
  }

  ckLoop->setChecked(true);
}

void frmForm1::TickInterfaceMenus() {
  const int16_t type = session_.selection.InterfaceType;
  mnuPort->setChecked(type == 1);
  mnuUsb->setChecked(type == 2);
  mnuFtdi->setChecked(type == kInterfaceFtdi);
  mnuSpidev->setChecked(type == kInterfaceSpidev);
  ShowLinkState();
}

void frmForm1::InterfaceChosen() {
  if (!InterfaceInUse(session_)) return;
  SETGYROSCALES(session_.selection.DeviceType);
}

void frmForm1::ShowLinkState() {
  const QString interfaceText = QString::fromStdString(InterfaceText(session_));
  const SensorAnswer link = InterfaceAnswer(session_);
  if (lblInterfaceState->text() != interfaceText) {
    // Another interface (or port, or adapter): what the last one said no longer holds.
    lblInterfaceState->setText(interfaceText);
    lblInterfaceState->setToolTip(interfaceText);  // whole, where a narrow window cuts it
    answer_ = SensorAnswer::NotRead;
    ShowNeutralLamps();
  }
  if (link != SensorAnswer::NotRead) {
    answer_ = link;
    ShowNeutralLamps();
  } else if (answer_ != SensorAnswer::Answers && answer_ != SensorAnswer::Silent) {
    answer_ = SensorAnswer::NotRead;  // an interface is in use again; not read yet
  }
  const QString answerText = QString::fromStdString(AnswerText(answer_));
  if (lblSensorState->text() != answerText) lblSensorState->setText(answerText);
}

void frmForm1::ShowNeutralLamps() {
  for (size_t i = 0; i < statusFlags.size(); ++i) {
    statusShown_[i].reset();
    if (statusFlags[i]->text() == kNeutralText) continue;
    statusFlags[i]->setText(kNeutralText);
    SetBackground(statusFlags[i], QPalette::Window, kNeutralGrey);
  }
}

void frmForm1::ShowSampleRate(const std::string& text) {
  const QString rate = QString::fromStdString(text);
  if (lblSampleRate->text() != rate) lblSampleRate->setText(rate);
}

void frmForm1::ShowCapturePriority(const CapturePriority& priority) {
  lblCapturePriority->setText(QStringLiteral("Capture: ") +
                              QString::fromStdString(PriorityText(priority)));
}

bool frmForm1::Check_Interface() {
  Selection& selection = session_.selection;
  const bool lostAdapter = selection.InterfaceType >= kInterfaceUsb &&
                           selection.InterfaceType <= kInterfaceSpidev && !InterfaceUsable(session_);
  if ((selection.InterfaceType == 1 && selection.PortAddress == 0) || lostAdapter) {
    selection.InterfaceType = 0;
  }
  bool usable = true;
  if (selection.InterfaceType < kInterfaceParallel || selection.InterfaceType > kInterfaceSpidev) {
    session_.messages.Show({"Please select an interface first", "", {}});
    usable = false;
  }
  TickInterfaceMenus();
  return usable;
}

void frmForm1::SetDevice(int16_t model) {
  const DeviceView view = pemra::SetDevice(model, session_.selection, session_.access,
                                           app_.Ranges, session_.messages,
                                           app_.DecimalSeparator());
  ApplyDeviceView(view);
}

void frmForm1::SETGYROSCALES(int16_t model) {
  pemra::SETGYROSCALES(model, session_.access, app_.Ranges);
}

void frmForm1::ApplyDeviceView(const DeviceView& view) {
  for (size_t i = 0; i < kModelCodes.size(); ++i) {
    mnuModels[i]->setChecked(kModelCodes[i] == view.checkedModel);
  }
  for (int i = 3; i <= 4; ++i) {
    txtReadReg[i]->setVisible(view.gyroYZVisible);
    lblReadReg[i]->setVisible(view.gyroYZVisible);
    ckG[i]->setVisible(view.gyroYZVisible);
    Shape[i]->setVisible(view.gyroYZVisible && ckG[i]->isChecked());
  }
  for (int i = 9; i <= 10; ++i) {
    txtReadReg[i]->setVisible(true);
    lblReadReg[i]->setVisible(true);
  }
  lblReadReg[9]->setText(QString::fromStdString(view.caption9));
  lblReadReg[10]->setText(QString::fromStdString(view.caption10));
  lblpFS2->setText(QString::fromStdString(view.lblpFS2));
  lblmidS2->setText(QString::fromStdString(view.lblmidS2));
  lblnFS2->setText(QString::fromStdString(view.lblnFS2));
  FrameDataPLot->setTitle(QString::fromStdString(view.frameCaption));
  accRangeShown_ = {qQNaN(), qQNaN()};
}

void frmForm1::mnuModel_Click(int16_t model) { SetDevice(model); }

void frmForm1::mnuPort_Click() {
  frmPort dialog(session_.selection, session_.parallel, this);
  const bool accepted = dialog.exec() == QDialog::Accepted;
  // Cancel leaves the interface as it was, whatever address an earlier choice left.
  if (accepted && session_.selection.PortAddress != 0) {
    session_.selection.InterfaceType = 1;
  }
  TickInterfaceMenus();
  if (accepted) InterfaceChosen();
}

void frmForm1::mnuUsb_Click() {
  frmUSBselect dialog(session_.adapters, session_.usbSpi, app_.DebugLoopStop,
                      app_.windows.UsbDebug, app_.DecimalSeparator(), this);
  dialog.exec();
  session_.selection.InterfaceType = session_.adapters.UsbSelected ? 2 : 0;
  TickInterfaceMenus();
  InterfaceChosen();
}

void frmForm1::mnuFtdi_Click() {
  frmFtdiSelect dialog(session_.ftdi, session_.selection, this);
  if (dialog.exec() == QDialog::Accepted && session_.ftdi.FtdiSelected) {
    session_.selection.InterfaceType = kInterfaceFtdi;
  }
  TickInterfaceMenus();
  InterfaceChosen();
}

void frmForm1::mnuSpidev_Click() {
  frmSpidevSelect dialog(session_.spidev, session_.selection, this);
  if (dialog.exec() == QDialog::Accepted && session_.spidev.SpidevSelected) {
    session_.selection.InterfaceType = kInterfaceSpidev;
  }
  TickInterfaceMenus();
  InterfaceChosen();
}

void frmForm1::OpenWindow(const WindowOpener& opener) {
  if (opener) opener(this);
}

void frmForm1::MnuCal_Click() {
  if (Check_Interface()) OpenWindow(app_.windows.Calibration);
}
void frmForm1::mnuOperation_Click() { OpenWindow(app_.windows.OperationControl); }
void frmForm1::MnuAlarms_Click() { OpenWindow(app_.windows.Alarms); }
void frmForm1::mnuDatalog_Click() { OpenWindow(app_.windows.Datalog); }
void frmForm1::mnuRegisters_Click() { OpenWindow(app_.windows.Registers); }
void frmForm1::mnuOpenLog_Click() { OpenWindow(app_.windows.OpenLog); }
void frmForm1::mnuNoise_Click() { OpenWindow(app_.windows.Noise); }
void frmForm1::mnuEvaluate_Click() { OpenWindow(app_.windows.Evaluate); }
void frmForm1::MnuExit_Click() { close(); }

void frmForm1::CmdUpdateStatus_Click() {
  if (session_.selection.InterfaceType == 0) {
    ShowLinkState();
    return;
  }
  session_.access.ReadRegister(reg::STATUS);
  const int32_t status = session_.access.RawValue;
  // A word that came from no interface in use (no port access, the adapter deselected or
  // lost during the read) is not the sensor's status: the lamps stay neutral.
  ShowLinkState();
  if (!InterfaceInUse(session_)) return;
  for (size_t i = 0; i < kStatusLampBits.size(); ++i) {
    const bool set = (status >> kStatusLampBits[i]) & 1;
    if (statusShown_[i] == set) continue;
    statusShown_[i] = set;
    statusFlags[i]->setText(set ? QStringLiteral("Alarm") : QStringLiteral("OK"));
    SetBackground(statusFlags[i], QPalette::Window, set ? kAlarmRed : kOkGreen);
  }
}

void frmForm1::optSTON_Click() {
  RegisterAccess& access = session_.access;
  access.MscCtrlShadow |= kSelfTestBit;
  access.WriteRegister(reg::MSC_CTRL, access.MscCtrlShadow);
}

void frmForm1::optSTOFF_Click() {
  RegisterAccess& access = session_.access;
  access.MscCtrlShadow &= 0xFF;
  access.WriteRegister(reg::MSC_CTRL, access.MscCtrlShadow);
}

void frmForm1::txtPowerDown_Change() {
  const std::optional<QString> fix =
      PowerDownCorrection(txtPowerDown->text(), QChar::fromLatin1(app_.DecimalSeparator()));
  if (fix) txtPowerDown->setText(*fix);
}

void frmForm1::cmdPowerDown_Click() {
  const double seconds =
      NumericValue(txtPowerDown->text(), QChar::fromLatin1(app_.DecimalSeparator())).value_or(0.0);
  // The sleep count is in half seconds, rounded down; the entry rule keeps it in 0..255.
  session_.access.WriteRegister(reg::SLP_CNT, static_cast<int32_t>(std::floor(2.0 * seconds)));

  // Elapsed time on the monotonic session clock. The window stays usable: events are
  // processed between readings, with a short wait so the wait does not spin a core.
  Clock& clock = session_.clock;
  const Nanoseconds start = clock.Now();
  const auto elapsedSeconds = [&] {
    return std::chrono::duration<double>(clock.Now() - start).count();
  };
  for (double elapsed = elapsedSeconds(); elapsed < seconds; elapsed = elapsedSeconds()) {
    const QString shown =
        QString::fromStdString(FormatNumber(elapsed, "##0.0", app_.DecimalSeparator()));
    if (lblPDElapsed->text() != shown) lblPDElapsed->setText(shown);
    QCoreApplication::processEvents();
    if (closing_) return;
    clock.Wait(kPowerDownPoll);
  }
  ResponsiveDelay(200.0f);
  if (closing_) return;
  optSTOFF->setChecked(true);
  optSTOFF_Click();
}

void frmForm1::closeEvent(QCloseEvent* event) {
  if (shutdownDone_) {
    event->accept();
    return;
  }
  if (app_.cancelRun) {  // a logging run completes its file first, then closes us again
    app_.closeAfterRun = true;
    app_.cancelRun();
    event->ignore();
    return;
  }
  closing_ = true;
  // A running readout ends after the sample in hand.
  cmdReadData->setText(QStringLiteral("Read"));
  Shutdown();
  event->accept();
}

void frmForm1::Shutdown() {
  Delay(session_.clock, 250.0f);
  std::string error;
  if (!SaveConfigFile(session_.selection, app_.options.configPath, app_.configStatus, &error)) {
    session_.messages.Show({error, "", MessageIcon::Error});
  }
  shutdownDone_ = true;
  emit ShutdownFinished();
}

}  // namespace pemra
