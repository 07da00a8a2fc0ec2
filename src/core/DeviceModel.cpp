#include "core/DeviceModel.h"

#include <algorithm>

#include "core/NumberText.h"
#include "core/RegisterFields.h"

namespace pemra {

namespace {

void SetAccelerometerScales(RegisterTable& table, float scale) {
  for (int16_t i : {reg::XACCL_OUT, reg::YACCL_OUT, reg::ZACCL_OUT}) table[i].RegScale = scale;
}

void SetTemperatureScales(RegisterTable& table, float scale) {
  for (int16_t i : {reg::XTEMP_OUT, reg::YTEMP_OUT, reg::ZTEMP_OUT}) table[i].RegScale = scale;
}

void SetSupply(RegisterTable& table, int16_t width, float scale) {
  table[reg::SUPPLY_OUT].RegWidth = width;
  table[reg::SUPPLY_OUT].RegScale = scale;
}

void SetChannel(RegisterEntry& entry, const char* name, int16_t width, float offset) {
  entry.RegName = name;
  entry.RegWidth = width;
  entry.RegOffset = offset;
}

std::string UnrecognisedModelText(int16_t model) {
  return "\r\nERROR\r\nModule Name = frmForm1\r\nRoutine Name = SetDevice\r\nProductNumber = " +
         std::to_string(model) + "\r\nThis product number is NOT recognized.\r\n";
}

}  // namespace

bool IsKnownModel(int16_t model) {
  return std::find(kModelCodes.begin(), kModelCodes.end(), model) != kModelCodes.end();
}

float GyroBaseScale(int16_t model) {
  switch (model) {
    case 21410:
    case 21450:
    case 21460:
    case 21470:
    case 21480:
      return 0.05f;
    case 21490:
      return 0.2f;
    default:
      return 0.07326f;
  }
}

void ApplyModelTable(int16_t model, RegisterTable& table) {
  // The common setting, from which every model starts.
  SetSupply(table, 14, 0.002418f);
  SetAccelerometerScales(table, 0.00333f);
  SetTemperatureScales(table, 0.136f);
  SetChannel(table[reg::YTEMP_OUT], "YTEMP_OUT", 12, 25.0f);
  SetChannel(table[reg::ZTEMP_OUT], "ZTEMP_OUT", 12, 25.0f);
  table[reg::AUX_ADC].RegScale = 0.0008058f;

  switch (model) {
    case 21410:
      // Entries 9 and 10 carry pitch and roll angles instead of temperatures.
      SetSupply(table, 14, 0.00242f);
      SetAccelerometerScales(table, 0.0006f);
      table[reg::XTEMP_OUT].RegScale = 0.14f;
      SetChannel(table[reg::YTEMP_OUT], "Pitch_OUT", 13, 0.0f);
      SetChannel(table[reg::ZTEMP_OUT], "Roll_OUT", 13, 0.0f);
      table[reg::YTEMP_OUT].RegScale = 0.044f;
      table[reg::ZTEMP_OUT].RegScale = 0.044f;
      table[reg::AUX_ADC].RegScale = 0.00081f;
      break;
    case 21420:
    case 21430:
    case 21440:
      SetSupply(table, 12, 0.0018315f);
      SetAccelerometerScales(table, model == 21430 ? 0.0004672f : 0.002522f);
      SetTemperatureScales(table, 0.1453f);
      table[reg::AUX_ADC].RegScale = 0.0006105f;
      break;
    case 21460:
      SetAccelerometerScales(table, 0.000333f);
      break;
    case 21470:
      SetAccelerometerScales(table, 0.001f);
      break;
    default:  // 21450, 21480, 21490 and unrecognised codes keep the common setting
      break;
  }
}

DeviceView SetDevice(int16_t model, Selection& selection, RegisterAccess& access,
                     ChartRanges& ranges, MessageSink& messages, char decimalSeparator) {
  selection.DeviceType = model;
  ApplyModelTable(model, access.Table());

  DeviceView view;
  view.checkedModel = IsKnownModel(model) ? model : int16_t{0};
  view.gyroYZVisible = model != 21410;
  view.caption9 = model == 21410 ? "Pitch_Out" : "Y_Temp (degC)";
  view.caption10 = model == 21410 ? "Roll_Out" : "Z_Temp (degC)";

  ranges.AccelChartMax = 10.0;
  ranges.AccelChartMin = -10.0;
  if (model == 21410) {
    ranges.AccelChartMax = 1.5;
    ranges.AccelChartMin = -1.5;
  } else if (model == 21430) {
    ranges.AccelChartMax = 1.7;
    ranges.AccelChartMin = -1.7;
  }

  if (!IsKnownModel(model))
    messages.Show(Message{UnrecognisedModelText(model), "", MessageIcon::Error});

  SETGYROSCALES(selection.DeviceType, access, ranges);

  const double middle =
      ranges.AccelChartMin + (ranges.AccelChartMax - ranges.AccelChartMin) / 2.0;
  view.lblnFS2 = GeneralText(ranges.AccelChartMin, decimalSeparator);
  view.lblmidS2 = GeneralText(middle, decimalSeparator);
  view.lblpFS2 = GeneralText(ranges.AccelChartMax, decimalSeparator);
  view.frameCaption = "Data Plot   Device = " + std::to_string(selection.DeviceType);
  return view;
}

void SETGYROSCALES(int16_t model, RegisterAccess& access, ChartRanges& ranges) {
  const double base = GyroBaseScale(model);
  access.ReadRegister(reg::SENS_AVG);
  const int32_t rangeCode = bits::kSensAvgGyroRange.Get(access.RawValue);
  double scale = 0.0;
  switch (rangeCode) {
    case 4:
      scale = base;
      break;
    case 2:
      scale = base / 2.0;
      break;
    case 1:
      scale = base / 4.0;
      break;
    default:
      break;
  }
  RegisterTable& table = access.Table();
  for (int16_t i : {reg::XGYRO_OUT, reg::YGYRO_OUT, reg::ZGYRO_OUT})
    table[i].RegScale = static_cast<float>(scale);
  ranges.GyroChartMax = 350.0;
  ranges.GyroChartMin = -350.0;
}

}  // namespace pemra
