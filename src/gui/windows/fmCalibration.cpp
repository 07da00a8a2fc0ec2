#include "gui/windows/fmCalibration.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <optional>

#include "core/NumberText.h"
#include "core/OffsetCalibration.h"
#include "core/RegisterAccess.h"
#include "core/Timing.h"
#include "gui/kit/Application.h"
#include "gui/kit/EntryRules.h"
#include "gui/kit/OpsWindowSupport.h"
#include "gui/kit/ScreenFit.h"
#include "gui/kit/Termination.h"

namespace pemra {

namespace {

constexpr int kPrecisionRounds = 33;  // seconds of countdown: 32 down to 0
constexpr float kRoundMilliseconds = 1000.0f;
// The countdown repaints four times a second between its once-a-second yields.
constexpr Nanoseconds kCountdownSlice = std::chrono::milliseconds(250);

struct RowNames {
  const char* caption;
  const char* text;
  const char* button;
  const char* hex;
};
constexpr std::array<RowNames, fmCalibration::kRows> kRowNames = {{
    {"X-Axis Offset", "txtGX", "cmdCal_GX", "lblGX"},
    {"Y-Axis Offset", "txtGY", "cmdCal_GY", "lblGY"},
    {"Z-Axis Offset", "txtGZ", "cmdCal_GZ", "lblGZ"},
    {"X-Axis Offset", "txtAX", "cmdCal_AX", "lblAX"},
    {"Y-Axis Offset", "txtAY", "cmdCal_AY", "lblAY"},
    {"Z-Axis Offset", "txtAZ", "cmdCal_AZ", "lblAZ"},
}};

constexpr int16_t kSingleGyroModel = 21410;  // only the X gyro

}  // namespace

fmCalibration::fmCalibration(Application& app, QWidget* parent)
    : QDialog(parent), app_(app), session_(app.session) {
  setObjectName(QStringLiteral("fmCalibration"));
  setWindowTitle(QStringLiteral("Calibration"));
  setModal(true);
  BuildControls();
  Form_Load();
  Form_Activate();  // again whenever the window is shown
}

void fmCalibration::BuildControls() {
  auto* top = new QVBoxLayout(ScrollingContent(this));

  auto* automatic = new QGroupBox(QStringLiteral("Automatic Features"), this);
  automatic->setObjectName(QStringLiteral("frameAutomatic"));
  auto* commands = new QGridLayout(automatic);
  cmdAutoNull = CommandButton(QStringLiteral("Run"), "cmdAutoNull", automatic);
  cmdPreciAutoNull = CommandButton(QStringLiteral("Run"), "cmdPreciAutoNull", automatic);
  cmdFactoryCal = CommandButton(QStringLiteral("Run"), "cmdFactoryCal", automatic);
  LbLInProgress = NamedLabel(QStringLiteral("  In Progress"), "LbLInProgress", automatic);
  LbLInProgress->setMinimumWidth(
      LbLInProgress->fontMetrics().horizontalAdvance(QStringLiteral("  In Progress  32  ")));
  commands->addWidget(cmdAutoNull, 0, 0);
  commands->addWidget(NamedLabel(QStringLiteral("Auto Null"), "lblAutoNull", automatic), 0, 1);
  commands->addWidget(cmdPreciAutoNull, 1, 0);
  commands->addWidget(
      NamedLabel(QStringLiteral("Precision Auto Null"), "lblPreciAutoNull", automatic), 1, 1);
  commands->addWidget(LbLInProgress, 1, 2);
  commands->addWidget(cmdFactoryCal, 2, 0);
  commands->addWidget(
      NamedLabel(QStringLiteral("Restore Factory Calibration"), "lblFactoryCal", automatic), 2, 1);
  commands->setColumnStretch(2, 1);
  top->addWidget(automatic);

  auto* manual = new QGroupBox(QStringLiteral("Manual Calibration Adjustment"), this);
  manual->setObjectName(QStringLiteral("frameManual"));
  auto* manualLayout = new QVBoxLayout(manual);
  auto* heading = NamedLabel(QStringLiteral("Register Contents"), "lblRegisterContents", manual);
  manualLayout->addWidget(heading, 0, Qt::AlignRight);
  for (int group = 0; group < 2; ++group) {
    const bool gyro = group == 0;
    auto* box = new QGroupBox(gyro ? QStringLiteral("Gyroscopes") : QStringLiteral("Accelerometers"),
                              manual);
    box->setObjectName(gyro ? QStringLiteral("frameGyro") : QStringLiteral("frameAccel"));
    auto* grid = new QGridLayout(box);
    for (int i = 0; i < 3; ++i) {
      const int row = group * 3 + i;
      const RowNames& names = kRowNames[row];
      rowCaptions_[row] = new QLabel(QString::fromLatin1(names.caption), box);
      txt[row] = EntryBox(names.text, box);
      unitCaptions_[row] =
          new QLabel(gyro ? QStringLiteral("deg / sec") : QStringLiteral("g"), box);
      cmdCal[row] = CommandButton(QStringLiteral("Update"), names.button, box);
      lbl[row] = HexLabel(names.hex, box);
      grid->addWidget(rowCaptions_[row], i, 0);
      grid->addWidget(txt[row], i, 1);
      grid->addWidget(unitCaptions_[row], i, 2);
      grid->addWidget(cmdCal[row], i, 3);
      grid->addWidget(lbl[row], i, 4);
      connect(cmdCal[row], &QPushButton::clicked, this, [this, row] { cmdCal_Click(row); });
    }
    // Both groups' columns line up: the unit column is as wide as its wider caption.
    grid->setColumnMinimumWidth(2, fontMetrics().horizontalAdvance(QStringLiteral("deg / sec")));
    manualLayout->addWidget(box);
  }
  top->addWidget(manual);

  AddFlashAndCloseRow(top, this, cmdFlash, cmdClose);
  top->setSizeConstraint(QLayout::SetFixedSize);

  connect(cmdAutoNull, &QPushButton::clicked, this, &fmCalibration::cmdAutoNull_Click);
  connect(cmdPreciAutoNull, &QPushButton::clicked, this, &fmCalibration::cmdPreciAutoNull_Click);
  connect(cmdFactoryCal, &QPushButton::clicked, this, &fmCalibration::cmdFactoryCal_Click);
  connect(cmdFlash, &QPushButton::clicked, this, &fmCalibration::cmdFlash_Click);
  connect(cmdClose, &QPushButton::clicked, this, &fmCalibration::cmdClose_Click);
}

void fmCalibration::Form_Load() {
  // Each showing places the window at the main window's corner (ScreenFit).
  ReadCalRegisters();
  LbLInProgress->hide();
}

void fmCalibration::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) Form_Activate();
  QDialog::showEvent(event);
}

void fmCalibration::Form_Activate() {
  if (session_.selection.DeviceType != kSingleGyroModel) return;
  for (int row = 1; row <= 2; ++row) {  // the Y and Z gyro rows
    for (QWidget* w : std::initializer_list<QWidget*>{rowCaptions_[row], unitCaptions_[row],
                                                      txt[row], cmdCal[row], lbl[row]}) {
      w->hide();
    }
  }
}

void fmCalibration::reject() {
  // The precision auto-null cannot be cancelled, and no wait may be left half done.
  if (!busy_) QDialog::reject();
}

void fmCalibration::ReadCalRegisters() {
  RegisterAccess& access = session_.access;
  const char separator = app_.DecimalSeparator();
  for (int row = 0; row < kRows; ++row) {
    // Without a sensor to read (or after a failed transfer) nothing came back: the boxes
    // keep what they show rather than zeros.
    if (!InterfaceUsable(session_)) return;
    const OffsetRow& offset = kOffsetRows[row];
    access.ReadRegister(offset.index);
    if (!InterfaceUsable(session_)) return;
    lbl[row]->setText(ToQString(NumberToHex(access.RawValue)));
    txt[row]->setText(ToQString(GeneralText(access.RawValue * offset.factor, separator)));
  }
}

void fmCalibration::cmdCal_Click(int row) {
  if (row < 0 || row >= kRows) return;
  const OffsetRow& offset = kOffsetRows[row];
  const char separator = app_.DecimalSeparator();
  const QChar qSeparator = QChar::fromLatin1(separator);
  QLineEdit* box = txt[row];
  // Each rule reads the box as the previous one left it.
  if (!NumericValue(box->text(), qSeparator)) box->setText(QStringLiteral("0"));
  if (NumericValue(box->text(), qSeparator).value_or(0.0) < offset.lower) {
    box->setText(ToQString(GeneralText(offset.lower, separator)));
  }
  if (NumericValue(box->text(), qSeparator).value_or(0.0) > offset.upper) {
    box->setText(ToQString(GeneralText(offset.upper, separator)));
  }
  const int32_t code = OffsetCode(offset, NumericValue(box->text(), qSeparator).value_or(0.0));
  // The entry rules hold without a sensor too; nothing is written to none.
  if (!InterfaceUsable(session_)) return;
  RegisterAccess& access = session_.access;
  access.WriteRegister(offset.index, code);
  box->setText(ToQString(GeneralText(code * offset.factor, separator)));
  busy_ = true;
  RepaintingDelay(session_.clock, 100);
  busy_ = false;
  access.ReadRegister(offset.index);
  if (InterfaceUsable(session_)) lbl[row]->setText(ToQString(NumberToHex(access.RawValue)));
}

void fmCalibration::RunCommand(int32_t code, float waitMilliseconds, bool reread) {
  if (!InterfaceUsable(session_)) return;
  session_.access.WriteRegister(reg::COMMAND, code);
  busy_ = true;
  RepaintingDelay(session_.clock, waitMilliseconds);
  busy_ = false;
  if (reread) ReadCalRegisters();
}

void fmCalibration::cmdAutoNull_Click() { RunCommand(command::AutoNull, 250, true); }

void fmCalibration::cmdFactoryCal_Click() {
  RunCommand(command::FactoryCalibrationRestore, 250, true);
}

void fmCalibration::cmdFlash_Click() { RunCommand(command::FlashUpdate, 200, false); }

void fmCalibration::SetControlsEnabled(bool enabled) {
  for (QWidget* w : {static_cast<QWidget*>(cmdFactoryCal), static_cast<QWidget*>(cmdPreciAutoNull),
                     static_cast<QWidget*>(cmdAutoNull), static_cast<QWidget*>(cmdClose),
                     static_cast<QWidget*>(cmdFlash)}) {
    w->setEnabled(enabled);
  }
  for (int row = 0; row < kRows; ++row) {
    cmdCal[row]->setEnabled(enabled);
    txt[row]->setEnabled(enabled);
  }
}

void fmCalibration::cmdPreciAutoNull_Click() {
  if (precisionRunning_ || !InterfaceUsable(session_)) return;
  session_.access.WriteRegister(reg::COMMAND, command::PrecisionAutoNull);
  busy_ = true;
  precisionRunning_ = true;
  SetControlsEnabled(false);
  QCoreApplication::processEvents();
  LbLInProgress->show();
  QCoreApplication::processEvents();
  // The caption keeps its previous text during the first second. Nothing cancels the
  // countdown but the program being told to end (SIGINT, SIGTERM): then it stops waiting and
  // the window closes, so the program shuts down as usual.
  const auto goOn = [] { return !TerminationRequested(); };
  for (int n = kPrecisionRounds - 1; n >= 0 && goOn(); --n) {
    if (!RepaintingDelay(session_.clock, kRoundMilliseconds, kCountdownSlice, goOn)) break;
    LbLInProgress->setText(QStringLiteral("  In Progress  ") + QString::number(n));
    QCoreApplication::processEvents();
  }
  LbLInProgress->hide();
  SetControlsEnabled(true);
  precisionRunning_ = false;
  busy_ = false;
  if (!goOn()) {
    QDialog::reject();  // the sensor is still nulling: nothing to read back
    return;
  }
  ReadCalRegisters();
  QCoreApplication::processEvents();
}

void fmCalibration::cmdClose_Click() { QDialog::reject(); }

// The main window's menu opens the window through this (registered in app/Windows.cpp).
WindowOpener CalibrationOpener(Application& app) {
  return [&app](QWidget* parent) { fmCalibration(app, parent).exec(); };
}

}  // namespace pemra
