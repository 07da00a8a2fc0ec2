#include "gui/windows/frmOperationalControl.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <optional>

#include "core/DeviceModel.h"
#include "core/NumberText.h"
#include "core/OperatingSettings.h"
#include "core/RegisterAccess.h"
#include "core/Timing.h"
#include "gui/kit/Application.h"
#include "gui/kit/EntryRules.h"
#include "gui/kit/OpsWindowSupport.h"
#include "gui/kit/ScreenFit.h"

namespace pemra {

namespace {

// Models whose gyro ranges are 75, 150 and 300 degrees per second.
bool HasLowerGyroRanges(int16_t model) {
  switch (model) {
    case 21410:
    case 21450:
    case 21460:
    case 21470:
    case 21480:
      return true;
    default:
      return false;
  }
}

QString HexText(int32_t word) { return ToQString(NumberToHex(word)); }

}  // namespace

frmOperationalControl::frmOperationalControl(Application& app, QWidget* parent)
    : QDialog(parent), app_(app), session_(app.session) {
  setObjectName(QStringLiteral("frmOperationalControl"));
  setWindowTitle(QStringLiteral("Operational Control"));
  setModal(true);
  BuildControls();
  ConnectHandlers();
  Form_Load();
}

void frmOperationalControl::AddOptionPair(QGridLayout* grid, int row, const QString& caption,
                                          QRadioButton*& first, const char* firstName,
                                          const QString& firstCaption, QRadioButton*& second,
                                          const char* secondName,
                                          const QString& secondCaption) {
  QWidget* owner = grid->parentWidget();
  first = new QRadioButton(firstCaption, owner);
  first->setObjectName(QString::fromLatin1(firstName));
  second = new QRadioButton(secondCaption, owner);
  second->setObjectName(QString::fromLatin1(secondName));
  // Each pair is its own exclusive group.
  auto* group = new QButtonGroup(owner);
  group->addButton(first);
  group->addButton(second);
  grid->addWidget(new QLabel(caption, owner), row, 0);
  grid->addWidget(first, row, 1);
  grid->addWidget(second, row, 2);
}

void frmOperationalControl::BuildControls() {
  auto* top = new QVBoxLayout(ScrollingContent(this));

  // Sample rate.
  auto* rateBox = new QWidget(this);
  auto* rate = new QGridLayout(rateBox);
  rate->setContentsMargins(0, 0, 0, 0);
  txtSampleRate = EntryBox("txtSampleRate", rateBox);
  cmdWriteSmpl_prd = CommandButton(QStringLiteral("Update"), "cmdWriteSmpl_prd", rateBox);
  lblSmpl_Prd = HexLabel("lblSmpl_Prd", rateBox);
  rate->addWidget(NamedLabel(QStringLiteral("SMPL_PRD Contents"), "lblSmplPrdHeading", rateBox),
                  0, 4, Qt::AlignHCenter);
  lblNoInterface = NamedLabel(QStringLiteral("No interface is in use."), "lblNoInterface", rateBox);
  lblNoInterface->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
  lblNoInterface->hide();
  rate->addWidget(lblNoInterface, 0, 0, 1, 4);
  rate->addWidget(NamedLabel(QStringLiteral("Sample Rate"), "lblSampleRate", rateBox), 1, 0);
  rate->addWidget(txtSampleRate, 1, 1);
  rate->addWidget(NamedLabel(QStringLiteral("SPS"), "lblSps", rateBox), 1, 2);
  rate->addWidget(cmdWriteSmpl_prd, 1, 3);
  rate->addWidget(lblSmpl_Prd, 1, 4);
  top->addWidget(rateBox);

  // Range and filter.
  auto* rangeFrame = new QGroupBox(QStringLiteral("Measurement Range and Digital Filtering"), this);
  rangeFrame->setObjectName(QStringLiteral("frameSensAvg"));
  auto* range = new QGridLayout(rangeFrame);
  opt_Rate_320 = new QRadioButton(rangeFrame);
  opt_Rate_320->setObjectName(QStringLiteral("opt_Rate_320"));
  opt_Rate_160 = new QRadioButton(rangeFrame);
  opt_Rate_160->setObjectName(QStringLiteral("opt_Rate_160"));
  opt_Rate_80 = new QRadioButton(rangeFrame);
  opt_Rate_80->setObjectName(QStringLiteral("opt_Rate_80"));
  auto* ranges = new QButtonGroup(rangeFrame);
  for (QRadioButton* option : {opt_Rate_320, opt_Rate_160, opt_Rate_80}) ranges->addButton(option);
  opt_Rate_320->setChecked(true);
  txtTaps = EntryBox("txtTaps", rangeFrame);
  cmdWriteSensAvg = CommandButton(QStringLiteral("Update"), "cmdWriteSensAvg", rangeFrame);
  lblSensAvg = HexLabel("lblSensAvg", rangeFrame);
  range->addWidget(NamedLabel(QStringLiteral("Select Gyro Range "), "lblGyroRange", rangeFrame),
                   0, 0);
  range->addWidget(NamedLabel(QStringLiteral("SENS/AVG Contents"), "lblSensAvgHeading", rangeFrame),
                   0, 4, Qt::AlignHCenter);
  range->addWidget(opt_Rate_320, 1, 0);
  range->addWidget(opt_Rate_160, 2, 0);
  range->addWidget(opt_Rate_80, 3, 0);
  range->addWidget(NamedLabel(QStringLiteral("Taps"), "lblTaps", rangeFrame), 1, 1);
  range->addWidget(txtTaps, 1, 2);
  range->addWidget(cmdWriteSensAvg, 1, 3);
  range->addWidget(lblSensAvg, 1, 4);
  range->setColumnStretch(0, 1);
  top->addWidget(rangeFrame);

  // Auxiliary I/O lines and data-ready output.
  auto* ioFrame = new QGroupBox(QStringLiteral("Auxilliary Digital I/O Configuration"), this);
  ioFrame->setObjectName(QStringLiteral("frameIO"));
  auto* ioColumns = new QHBoxLayout(ioFrame);
  auto* gpioFrame = new QGroupBox(QStringLiteral("Configure as a general purpose I/O line"), ioFrame);
  gpioFrame->setObjectName(QStringLiteral("frameGpio"));
  auto* gpio = new QGridLayout(gpioFrame);
  AddOptionPair(gpio, 0, QStringLiteral("Digital I/O Line 0:"), optIO_zero_input,
                "optIO_zero_input", QStringLiteral("Input"), optIO_zero_output,
                "optIO_zero_output", QStringLiteral("Output"));
  AddOptionPair(gpio, 1, QStringLiteral("Digital I/O Line 1:"), optIO_one_input,
                "optIO_one_input", QStringLiteral("Input"), optIO_one_output, "optIO_one_output",
                QStringLiteral("Output"));
  AddOptionPair(gpio, 2, QStringLiteral("Set Line 0 Level:"), optPol_zero_low, "optPol_zero_low",
                QStringLiteral("Low"), optPol_zero_high, "optPol_zero_high",
                QStringLiteral("High"));
  AddOptionPair(gpio, 3, QStringLiteral("Read Line 1 Level:"), optPol_one_low, "optPol_one_low",
                QStringLiteral("Low"), optPol_one_high, "optPol_one_high", QStringLiteral("High"));
  ioColumns->addWidget(gpioFrame);
  auto* readyFrame = new QGroupBox(QStringLiteral("Configure as a data ready line"), ioFrame);
  readyFrame->setObjectName(QStringLiteral("frameDataReady"));
  auto* ready = new QGridLayout(readyFrame);
  AddOptionPair(ready, 0, QStringLiteral("Select I/O line"), optDRselect_Zero, "optDRselect_Zero",
                QStringLiteral("DI/O1"), optDRselect_One, "optDRselect_One",
                QStringLiteral("DI/O2"));
  AddOptionPair(ready, 1, QStringLiteral("Output Polarity"), optDRPolarity_Low,
                "optDRPolarity_Low", QStringLiteral("Low"), optDRPolarity_High,
                "optDRPolarity_High", QStringLiteral("High"));
  AddOptionPair(ready, 2, QStringLiteral("Enable"), optDREnable_Off, "optDREnable_Off",
                QStringLiteral("OFF"), optDREnable_On, "optDREnable_On", QStringLiteral("ON"));
  ready->setRowStretch(3, 1);
  ioColumns->addWidget(readyFrame);
  top->addWidget(ioFrame);

  // Auxiliary DAC.
  auto* dacFrame = new QGroupBox(QStringLiteral("Auxilliary D/A Converter Output"), this);
  dacFrame->setObjectName(QStringLiteral("frameAuxDac"));
  auto* dac = new QGridLayout(dacFrame);
  txtVolts = EntryBox("txtVolts", dacFrame);
  cmdWriteAuxDac = CommandButton(QStringLiteral("Update"), "cmdWriteAuxDac", dacFrame);
  lblAuxDac = HexLabel("lblAuxDac", dacFrame);
  dac->addWidget(NamedLabel(QStringLiteral("AUX_DAC Contents"), "lblAuxDacHeading", dacFrame), 0,
                 3, Qt::AlignHCenter);
  dac->addWidget(NamedLabel(QStringLiteral("Volts"), "lblVolts", dacFrame), 1, 0);
  dac->addWidget(txtVolts, 1, 1);
  dac->addWidget(cmdWriteAuxDac, 1, 2);
  dac->addWidget(lblAuxDac, 1, 3);
  top->addWidget(dacFrame);

  AddFlashAndCloseRow(top, this, cmdFlash, cmdClose);
  top->setSizeConstraint(QLayout::SetFixedSize);
}

void frmOperationalControl::ConnectHandlers() {
  connect(cmdWriteSmpl_prd, &QPushButton::clicked, this,
          &frmOperationalControl::cmdWriteSmpl_prd_Click);
  connect(cmdWriteSensAvg, &QPushButton::clicked, this,
          &frmOperationalControl::cmdWriteSensAvg_Click);
  connect(cmdWriteAuxDac, &QPushButton::clicked, this,
          &frmOperationalControl::cmdWriteAuxDac_Click);
  connect(cmdFlash, &QPushButton::clicked, this, &frmOperationalControl::cmdFlash_Click);
  connect(cmdClose, &QPushButton::clicked, this, &frmOperationalControl::cmdClose_Click);
  // A click (also on the option already selected) writes; selecting an option from code
  // does not click it.
  for (QRadioButton* option : {optIO_zero_input, optIO_zero_output, optIO_one_input,
                               optIO_one_output, optPol_zero_low, optPol_zero_high,
                               optPol_one_low, optPol_one_high}) {
    connect(option, &QRadioButton::clicked, this, &frmOperationalControl::Write_GPIO_ctrl);
  }
  for (QRadioButton* option : {optDRselect_Zero, optDRselect_One, optDRPolarity_Low,
                               optDRPolarity_High, optDREnable_Off, optDREnable_On}) {
    connect(option, &QRadioButton::clicked, this, &frmOperationalControl::Write_MSC_Ctrl);
  }
}

QChar frmOperationalControl::Separator() const {
  return QChar::fromLatin1(app_.DecimalSeparator());
}

void frmOperationalControl::Wait(float milliseconds) {
  busy_ = true;
  RepaintingDelay(session_.clock, milliseconds);
  busy_ = false;
}

void frmOperationalControl::reject() {
  if (!busy_) QDialog::reject();
}

void frmOperationalControl::Form_Load() {
  // Each showing places the window at the main window's corner (ScreenFit).
  ShowRangeCaptions();
  // Without a sensor to read, the boxes stay empty rather than show zeros as its settings.
  if (!Usable()) return;
  ShowSampleRate();
  ShowSensAvg();

  if (const std::optional<int32_t> word = ReadBack(reg::GPIO_CTRL)) {
    const IoLines lines = IoLinesOfWord(*word);
    (lines.line0Output ? optIO_zero_output : optIO_zero_input)->setChecked(true);
    (lines.line1Output ? optIO_one_output : optIO_one_input)->setChecked(true);
    (lines.line0High ? optPol_zero_high : optPol_zero_low)->setChecked(true);
    (lines.line1High ? optPol_one_high : optPol_one_low)->setChecked(true);
  }
  if (const std::optional<int32_t> word = ReadBack(reg::MSC_CTRL)) {
    const DataReady dataReady = DataReadyOfWord(*word);
    (dataReady.lineTwo ? optDRselect_One : optDRselect_Zero)->setChecked(true);
    (dataReady.polarityHigh ? optDRPolarity_High : optDRPolarity_Low)->setChecked(true);
    (dataReady.enabled ? optDREnable_On : optDREnable_Off)->setChecked(true);
  }
  ShowAuxDac();
}

std::optional<int32_t> frmOperationalControl::ReadBack(int16_t index) {
  session_.access.ReadRegister(index);
  // A read that failed (or found no interface) brought nothing back from the sensor.
  if (!Usable()) return std::nullopt;
  lblNoInterface->hide();
  return session_.access.RawValue;
}

bool frmOperationalControl::Usable() {
  if (InterfaceUsable(session_)) return true;
  ShowNoInterface();
  return false;
}

void frmOperationalControl::ShowNoInterface() {
  for (QLineEdit* box : {txtSampleRate, txtTaps, txtVolts}) box->clear();
  for (QLabel* hex : {lblSmpl_Prd, lblSensAvg, lblAuxDac}) hex->clear();
  for (QRadioButton* option :
       {optIO_zero_input, optIO_one_input, optPol_zero_low, optPol_one_low, optDRselect_Zero,
        optDRPolarity_Low, optDREnable_Off}) {
    // An exclusive group keeps one option checked: it lets go while both are cleared.
    QButtonGroup* pair = option->group();
    pair->setExclusive(false);
    for (QAbstractButton* each : pair->buttons()) each->setChecked(false);
    pair->setExclusive(true);
  }
  lblNoInterface->show();
}

void frmOperationalControl::ShowRangeCaptions() {
  const bool lower = HasLowerGyroRanges(session_.selection.DeviceType);
  opt_Rate_320->setText(lower ? QStringLiteral("300 deg/sec") : QStringLiteral("320 deg/sec"));
  opt_Rate_160->setText(lower ? QStringLiteral("150 deg/sec") : QStringLiteral("160 deg/sec"));
  opt_Rate_80->setText(lower ? QStringLiteral("75 deg/sec") : QStringLiteral("80 deg/sec"));
}

void frmOperationalControl::ShowSampleRate() {
  const std::optional<int32_t> read = ReadBack(reg::SMPL_PRD);
  if (!read) return;
  const int32_t word = *read;
  lblSmpl_Prd->setText(HexText(word));
  txtSampleRate->setText(
      ToQString(FormatNumber(SampleRateOfWord(word), "##0.0##", app_.DecimalSeparator())));
}

bool frmOperationalControl::ShowSensAvg() {
  const std::optional<int32_t> read = ReadBack(reg::SENS_AVG);
  if (!read) return false;
  const int32_t word = *read;
  lblSensAvg->setText(HexText(word));
  switch (RangeCodeOfWord(word)) {
    case kRangeLow:
      opt_Rate_80->setChecked(true);
      break;
    case kRangeMiddle:
      opt_Rate_160->setChecked(true);
      break;
    case kRangeHigh:
      opt_Rate_320->setChecked(true);
      break;
    default:
      break;  // the selection stays
  }
  txtTaps->setText(QString::number(TapsOfWord(word)));
  return true;
}

void frmOperationalControl::ShowAuxDac() {
  const std::optional<int32_t> read = ReadBack(reg::AUX_DAC);
  if (!read) return;
  const int32_t code = *read;
  lblAuxDac->setText(HexText(code));
  txtVolts->setText(ToQString(FormatNumber(DacVolts(code), "0.0######", app_.DecimalSeparator())));
}

void frmOperationalControl::cmdWriteSmpl_prd_Click() {
  std::optional<double> rate = NumericValue(txtSampleRate->text(), Separator());
  if (!rate) {
    txtSampleRate->setText(ToQString(kDefaultSampleRateText));
    rate = NumericValue(txtSampleRate->text(), Separator());
  }
  int32_t word = SampleWordForRate(rate.value_or(kFastestSampleRate));
  // The entry rules hold without a sensor too; nothing is written to none.
  if (!Usable()) return;
  if (session_.selection.InterfaceType == 2 && word > kUsbSampleWordLimit) {
    session_.messages.Show(Message{std::string(kLowPowerMessage), "", MessageIcon::None});
    word = kUsbSampleWordLimit;
  }
  session_.access.WriteRegister(reg::SMPL_PRD, word);
  Wait(10);
  ShowSampleRate();
}

void frmOperationalControl::cmdWriteSensAvg_Click() {
  const int32_t rangeCode =
      opt_Rate_80->isChecked() ? kRangeLow : opt_Rate_160->isChecked() ? kRangeMiddle : kRangeHigh;
  // Not a number counts 0, which becomes one tap.
  const int32_t taps = FilterTaps(NumericValue(txtTaps->text(), Separator()).value_or(0.0));
  txtTaps->setText(QString::number(taps));
  if (!Usable()) return;
  session_.access.WriteRegister(reg::SENS_AVG, SensAvgWord(rangeCode, taps));
  if (!ShowSensAvg()) return;
  // The main window's gyro scaling and chart follow the range the sensor now holds.
  const int16_t model = session_.selection.DeviceType;
  if (app_.mainWindow.SetGyroScales && parentWidget() == app_.mainWindow.window) {
    app_.mainWindow.SetGyroScales(model);
  } else {
    SETGYROSCALES(model, session_.access, app_.Ranges);
  }
}

void frmOperationalControl::Write_GPIO_ctrl() {
  if (!isVisible() || !Usable()) return;
  const IoLines lines{optIO_zero_output->isChecked(), optIO_one_output->isChecked(),
                      optPol_zero_high->isChecked(), optPol_one_high->isChecked()};
  RegisterAccess& access = session_.access;
  access.GpioCtrlShadow = GpioCtrlWord(lines);
  access.WriteRegister(reg::GPIO_CTRL, access.GpioCtrlShadow);
  Wait(100);
  access.ReadRegister(reg::GPIO_CTRL);
}

void frmOperationalControl::Write_MSC_Ctrl() {
  if (!isVisible() || !Usable()) return;
  const DataReady dataReady{optDRselect_One->isChecked(), optDRPolarity_High->isChecked(),
                            optDREnable_On->isChecked()};
  RegisterAccess& access = session_.access;
  access.MscCtrlShadow = MscCtrlWord(dataReady);
  access.WriteRegister(reg::MSC_CTRL, access.MscCtrlShadow);
  Wait(100);
  access.ReadRegister(reg::MSC_CTRL);
}

void frmOperationalControl::cmdWriteAuxDac_Click() {
  const std::optional<double> entered = NumericValue(txtVolts->text(), Separator());
  double volts = entered.value_or(0.0);
  if (!entered || volts < 0.0) {
    txtVolts->setText(QStringLiteral("0"));
    volts = 0.0;
  } else if (volts > kDacFullScaleVolts) {
    txtVolts->setText(QStringLiteral("2.5"));
    volts = kDacFullScaleVolts;
  }
  if (!Usable()) return;
  RegisterAccess& access = session_.access;
  access.WriteRegister(reg::AUX_DAC, DacCode(volts));
  Wait(100);
  access.WriteRegister(reg::COMMAND, command::DacLatch);
  Wait(300);
  ShowAuxDac();
}

void frmOperationalControl::cmdFlash_Click() {
  if (!Usable()) return;
  session_.access.WriteRegister(reg::COMMAND, command::FlashUpdate);
  Wait(200);
}

void frmOperationalControl::cmdClose_Click() { QDialog::reject(); }

// The main window's menu opens the window through this (registered in app/Windows.cpp).
WindowOpener OperationalControlOpener(Application& app) {
  return [&app](QWidget* parent) { frmOperationalControl(app, parent).exec(); };
}

}  // namespace pemra
