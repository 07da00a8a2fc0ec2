// The main window's live readout: the output boxes, the read loop and the two charts.

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <string>

#include "core/NumberText.h"
#include "core/Timing.h"
#include "gui/kit/EntryRules.h"
#include "gui/kit/StripChart.h"
#include "gui/main/frmForm1.h"

namespace pemra {

namespace {

const QColor kSupplyLow(255, 0, 0);
const QColor kSupplyOk(255, 255, 255);
const QString kStop = QStringLiteral("STOP");
const QString kRead = QStringLiteral("Read");

// Loop delays from this length on are waited in slices with event processing between.
constexpr float kSlicedWaitFromMs = 20.0f;
constexpr auto kWaitSlice = std::chrono::milliseconds(10);

// Hundredths of a number shown as "0.00" ("-2.55" gives -255); empty for other text.
std::optional<int64_t> ShownHundredths(const std::string& text, char decimalSeparator) {
  int64_t value = 0;
  bool negative = false;
  int decimals = -1;
  size_t i = 0;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  bool digits = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      if (value > (INT64_MAX - 9) / 10) return std::nullopt;
      value = value * 10 + (c - '0');
      digits = true;
      if (decimals >= 0) ++decimals;
    } else if (c == decimalSeparator && decimals < 0) {
      decimals = 0;
    } else {
      return std::nullopt;
    }
  }
  if (!digits || decimals != 2) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace

double frmForm1::LoopDelayValue() const {
  return NumericValue(txtLoopDelay->text(), QChar::fromLatin1(app_.DecimalSeparator()))
      .value_or(0.0);
}

bool frmForm1::InterfaceLost() const { return !InterfaceUsable(session_); }

bool frmForm1::OneSample() {
  RegisterAccess& access = session_.access;
  const char separator = app_.DecimalSeparator();
  bool answered = false;
  for (int16_t i = 1; i <= kOutputs; ++i) {
    access.ReadRegister(i);
    answered = answered || access.RawValue != 0 || access.NewDataFlag != 0;
    const float value = access.ScaledValue;
    const std::string shown = FormatNumber(value, "0.00", separator);
    QLineEdit* box = txtReadReg[i];
    // Only a changed text reaches the box: an unchanged one would cost a relayout.
    const QString text = QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size()));
    if (box->text() != text) box->setText(text);
    sampleSet_[i] = value;
    if (i == reg::SUPPLY_OUT) ShowSupplyState(shown);
  }
  if (InterfaceInUse(session_)) answer_ = answered ? SensorAnswer::Answers : SensorAnswer::Silent;
  ShowLinkState();
  return !InterfaceLost();
}

void frmForm1::ShowSupplyState(const std::string& shown) {
  // Judged on the text just shown: below 2.60 red, above white, exactly 2.60 unchanged.
  const std::optional<int64_t> hundredths = ShownHundredths(shown, app_.DecimalSeparator());
  if (!hundredths || *hundredths == 260) return;
  const bool low = *hundredths < 260;
  if (supplyLow_ == low) return;
  supplyLow_ = low;
  QPalette palette = txtReadReg[1]->palette();
  palette.setColor(QPalette::Base, low ? kSupplyLow : kSupplyOk);
  txtReadReg[1]->setPalette(palette);
}

void frmForm1::ReadData() {
  if (!ckLoop->isChecked()) {
    OneSample();
    PlotDataPointsGy(sampleSet_, app_.Ranges.GyroChartMax, app_.Ranges.GyroChartMin);
    PlotDataPointsAcc(sampleSet_, app_.Ranges.AccelChartMax, app_.Ranges.AccelChartMin);
    CmdUpdateStatus_Click();
    return;
  }
  sampleRate_.Reset();
  while (cmdReadData->text() == kStop && !closing_) {
    // A transport failure that deselected the adapter, or an interface choice of "None"
    // made while the loop runs, ends the readout: the boxes would otherwise go on showing
    // values that no longer come from the sensor.
    if (InterfaceLost() || !OneSample()) {
      cmdReadData->setText(kRead);
      ShowLinkState();
      break;
    }
    QCoreApplication::processEvents();
    PlotDataPointsGy(sampleSet_, app_.Ranges.GyroChartMax, app_.Ranges.GyroChartMin);
    PlotDataPointsAcc(sampleSet_, app_.Ranges.AccelChartMax, app_.Ranges.AccelChartMin);
    CmdUpdateStatus_Click();
    emit SampleTaken();
    if (const std::optional<double> rate = sampleRate_.Count(session_.clock.Now())) {
      ShowSampleRate(RateText(*rate));
    }
    ResponsiveDelay(static_cast<float>(LoopDelayValue()));
  }
  ShowSampleRate({});
}

void frmForm1::ResponsiveDelay(float milliseconds) {
  Clock& clock = session_.clock;
  if (milliseconds < kSlicedWaitFromMs) {
    Delay(clock, milliseconds);
    return;
  }
  // The same length as Delay would wait, cut into slices; a closing window ends it.
  const Nanoseconds end = clock.Now() + DelayUnits(milliseconds) * Nanoseconds(10'000);
  for (Nanoseconds left = end - clock.Now(); left > Nanoseconds::zero() && !closing_;
       left = end - clock.Now()) {
    clock.Wait(std::min<Nanoseconds>(left, kWaitSlice));
    QCoreApplication::processEvents();
  }
}

void frmForm1::cmdReadData_Click() {
  if (session_.selection.InterfaceType == 0) return;
  if (ckLoop->isChecked()) {
    cmdReadData->setText(cmdReadData->text() == kRead ? kStop
                         : cmdReadData->text() == kStop ? kRead
                                                         : cmdReadData->text());
  }
  QCoreApplication::processEvents();
  ReadData();
}

void frmForm1::ckLoop_Click() {
  if (!ckLoop->isChecked() && cmdReadData->text() == kStop) cmdReadData->setText(kRead);
}

void frmForm1::txtLoopDelay_Change() {
  const std::optional<QString> fix =
      LoopDelayCorrection(txtLoopDelay->text(), QChar::fromLatin1(app_.DecimalSeparator()));
  if (fix) txtLoopDelay->setText(*fix);
}

void frmForm1::ShowRangeLabels(QLabel* topLabel, QLabel* midLabel, QLabel* bottomLabel,
                               double top, double bottom, std::array<double, 2>& shownRange) {
  // The labels only change with the range, so they are rewritten only then.
  if (shownRange[0] == top && shownRange[1] == bottom) return;
  shownRange = {top, bottom};
  bottomLabel->setText(Number(bottom));
  midLabel->setText(Number((top - bottom) / 2 + bottom));
  topLabel->setText(Number(top));
}

void frmForm1::PlotDataPointsGy(const std::array<double, 13>& values, double& top,
                                double& bottom) {
  ShowRangeLabels(lblpFS1, lblmidS1, lblnFS1, top, bottom, gyroRangeShown_);
  pic1->PlotSample({values[2], values[3], values[4]},
                   {ckG[2]->isChecked(), ckG[3]->isChecked(), ckG[4]->isChecked()}, top, bottom);
}

void frmForm1::PlotDataPointsAcc(const std::array<double, 13>& values, double& top,
                                 double& bottom) {
  ShowRangeLabels(lblpFS2, lblmidS2, lblnFS2, top, bottom, accRangeShown_);
  pic2->PlotSample({values[5], values[6], values[7]},
                   {ckG[5]->isChecked(), ckG[6]->isChecked(), ckG[7]->isChecked()}, top, bottom);
}

void frmForm1::cmdScaleGyro_Click() {
  gyroZoom_.Click(session_.selection.DeviceType, app_.Ranges.GyroChartMax,
                  app_.Ranges.GyroChartMin);
  ShowRangeLabels(lblpFS1, lblmidS1, lblnFS1, app_.Ranges.GyroChartMax, app_.Ranges.GyroChartMin,
                  gyroRangeShown_);
}

void frmForm1::cmdScaleAcc_Click() {
  accZoom_.Click(session_.selection.DeviceType, app_.Ranges.AccelChartMax,
                 app_.Ranges.AccelChartMin);
  ShowRangeLabels(lblpFS2, lblmidS2, lblnFS2, app_.Ranges.AccelChartMax,
                  app_.Ranges.AccelChartMin, accRangeShown_);
}

void frmForm1::ckG_Click(int index) { Shape[index]->setVisible(ckG[index]->isChecked()); }

void frmForm1::pic1_MouseMove(double x, double y) {
  lblCurSam1->setText(Number(RoundHalfEven(x) + 0.0));
  lblCurVal1->setText(Number(RoundHalfEven(y) + 0.0));
}

void frmForm1::pic2_MouseMove(double x, double y) {
  lblCurSam2->setText(Number(RoundHalfEven(x) + 0.0));
  lblCurVal2->setText(Number(RoundHalfEven(y * 10.0) / 10.0 + 0.0));
}

}  // namespace pemra
