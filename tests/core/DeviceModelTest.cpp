#include <gtest/gtest.h>

#include "RecordingTransport.h"
#include "core/DeviceModel.h"

namespace pemra {
namespace {

// What a model leaves in entries 1 and 5..11 (the gyro entries 2..4 belong to
// SETGYROSCALES).
struct ModelTable {
  int16_t model;
  int supplyWidth;
  float supplyScale;
  float accelScale;
  float xTempScale;
  const char* name9;
  const char* name10;
  int width9and10;
  float scale9and10;
  float offset9and10;
  float auxScale;
};

const ModelTable kModelTables[] = {
    {21410, 14, 0.00242f, 0.0006f, 0.14f, "Pitch_OUT", "Roll_OUT", 13, 0.044f, 0, 0.00081f},
    {21420, 12, 0.0018315f, 0.002522f, 0.1453f, "YTEMP_OUT", "ZTEMP_OUT", 12, 0.1453f, 25,
     0.0006105f},
    {21430, 12, 0.0018315f, 0.0004672f, 0.1453f, "YTEMP_OUT", "ZTEMP_OUT", 12, 0.1453f, 25,
     0.0006105f},
    {21440, 12, 0.0018315f, 0.002522f, 0.1453f, "YTEMP_OUT", "ZTEMP_OUT", 12, 0.1453f, 25,
     0.0006105f},
    {21450, 14, 0.002418f, 0.00333f, 0.136f, "YTEMP_OUT", "ZTEMP_OUT", 12, 0.136f, 25,
     0.0008058f},
    {21460, 14, 0.002418f, 0.000333f, 0.136f, "YTEMP_OUT", "ZTEMP_OUT", 12, 0.136f, 25,
     0.0008058f},
    {21470, 14, 0.002418f, 0.001f, 0.136f, "YTEMP_OUT", "ZTEMP_OUT", 12, 0.136f, 25,
     0.0008058f},
    {21480, 14, 0.002418f, 0.00333f, 0.136f, "YTEMP_OUT", "ZTEMP_OUT", 12, 0.136f, 25,
     0.0008058f},
    {21490, 14, 0.002418f, 0.00333f, 0.136f, "YTEMP_OUT", "ZTEMP_OUT", 12, 0.136f, 25,
     0.0008058f},
    {0, 14, 0.002418f, 0.00333f, 0.136f, "YTEMP_OUT", "ZTEMP_OUT", 12, 0.136f, 25, 0.0008058f},
    {-1, 14, 0.002418f, 0.00333f, 0.136f, "YTEMP_OUT", "ZTEMP_OUT", 12, 0.136f, 25, 0.0008058f},
    {21400, 14, 0.002418f, 0.00333f, 0.136f, "YTEMP_OUT", "ZTEMP_OUT", 12, 0.136f, 25,
     0.0008058f},
};

void ExpectModelTable(const RegisterTable& table, const ModelTable& m) {
  SCOPED_TRACE("model " + std::to_string(m.model));
  EXPECT_EQ(table[reg::SUPPLY_OUT].RegWidth, m.supplyWidth);
  EXPECT_EQ(table[reg::SUPPLY_OUT].RegScale, m.supplyScale);
  for (int16_t i : {reg::XACCL_OUT, reg::YACCL_OUT, reg::ZACCL_OUT})
    EXPECT_EQ(table[i].RegScale, m.accelScale);
  EXPECT_EQ(table[reg::XTEMP_OUT].RegScale, m.xTempScale);
  EXPECT_EQ(table[reg::XTEMP_OUT].RegOffset, 25.0f);
  EXPECT_EQ(table[reg::XTEMP_OUT].RegWidth, 12);
  EXPECT_EQ(table[reg::XTEMP_OUT].RegName, "XTEMP_OUT");
  EXPECT_EQ(table[reg::YTEMP_OUT].RegName, m.name9);
  EXPECT_EQ(table[reg::ZTEMP_OUT].RegName, m.name10);
  for (int16_t i : {reg::YTEMP_OUT, reg::ZTEMP_OUT}) {
    EXPECT_EQ(table[i].RegWidth, m.width9and10);
    EXPECT_EQ(table[i].RegScale, m.scale9and10);
    EXPECT_EQ(table[i].RegOffset, m.offset9and10);
    EXPECT_TRUE(table[i].RegSigned);
    EXPECT_TRUE(table[i].RegHasNewData);
  }
  EXPECT_EQ(table[reg::AUX_ADC].RegScale, m.auxScale);
}

TEST(ApplyModelTable, SetsEachModelsOutputEntries) {
  for (const ModelTable& m : kModelTables) {
    RegisterTable table;
    InitRegisterTable(table);
    ApplyModelTable(m.model, table);
    ExpectModelTable(table, m);
  }
}

TEST(ApplyModelTable, EveryModelStartsFromTheCommonSetting) {
  // Apply each model after each other one: nothing of the previous model may survive.
  for (const ModelTable& before : kModelTables) {
    for (const ModelTable& after : kModelTables) {
      RegisterTable table;
      InitRegisterTable(table);
      ApplyModelTable(before.model, table);
      ApplyModelTable(after.model, table);
      ExpectModelTable(table, after);
    }
  }
}

TEST(ApplyModelTable, LeavesEverythingElseAlone) {
  RegisterTable reference;
  InitRegisterTable(reference);
  for (const ModelTable& m : kModelTables) {
    RegisterTable table;
    InitRegisterTable(table);
    ApplyModelTable(m.model, table);
    for (int i = 0; i < kRegisterTableSize; ++i) {
      if (i == reg::SUPPLY_OUT || (i >= reg::XACCL_OUT && i <= reg::AUX_ADC)) continue;
      const RegisterEntry& a = table[static_cast<size_t>(i)];
      const RegisterEntry& b = reference[static_cast<size_t>(i)];
      EXPECT_TRUE(a.RegName == b.RegName && a.RegWidth == b.RegWidth &&
                  a.RegScale == b.RegScale && a.RegOffset == b.RegOffset &&
                  a.RegAddress == b.RegAddress && a.RegReadable == b.RegReadable)
          << "model " << m.model << " changed entry " << i;
    }
  }
}

TEST(DeviceModel, KnownModelsAndGyroBaseScales) {
  const std::pair<int16_t, float> bases[] = {
      {21410, 0.05f}, {21420, 0.07326f}, {21430, 0.07326f}, {21440, 0.07326f},
      {21450, 0.05f}, {21460, 0.05f},    {21470, 0.05f},    {21480, 0.05f},
      {21490, 0.2f},  {0, 0.07326f},     {-32768, 0.07326f}, {21411, 0.07326f},
  };
  for (const auto& [model, base] : bases) {
    EXPECT_EQ(GyroBaseScale(model), base) << model;
    EXPECT_EQ(IsKnownModel(model), model >= 21410 && model <= 21490 && model % 10 == 0) << model;
  }
}


class SetDeviceTest : public ::testing::Test {
 protected:
  SetDeviceTest() {
    InitRegisterTable(table);
    selection.InterfaceType = 2;
    access.SetUsbTransport(&usb);
  }
  void SetSensAvg(int32_t word) { usb.SetWord(table[reg::SENS_AVG].RegAddress, word); }
  float GyroScale(int16_t index) const { return table[index].RegScale; }

  RegisterTable table;
  Selection selection;
  TestClock clock;
  test::RecordingTransport usb;
  RegisterAccess access{table, selection, clock};
  ChartRanges ranges;
  RecordingMessageSink messages;
};

TEST_F(SetDeviceTest, GyroScalesFollowTheRangeCodeOfSensAvg) {
  struct Case {
    int16_t model;
    int32_t sensAvg;
    float scale;
  };
  const Case cases[] = {
      {21420, 0x0402, 0.07326f}, {21420, 0x0200, 0.03663f}, {21420, 0x0100, 0.018315f},
      {21420, 0x0300, 0.0f},     {21420, 0x0000, 0.0f},     {21420, 0x0500, 0.0f},
      {21420, 0x0700, 0.0f},     {21420, 0xF8FF, 0.0f},     {21420, 0xFCFF, 0.07326f},
      {21410, 0x0400, 0.05f},    {21410, 0x0200, 0.025f},   {21410, 0x0100, 0.0125f},
      {21490, 0x0400, 0.2f},     {21490, 0x0200, 0.1f},     {21490, 0x0100, 0.05f},
      {21430, 0x0100, 0.018315f}, {21480, 0x0200, 0.025f},  {0, 0x0400, 0.07326f},
  };
  for (const Case& c : cases) {
    SetSensAvg(c.sensAvg);
    ranges.GyroChartMax = 1;
    ranges.GyroChartMin = -1;
    SETGYROSCALES(c.model, access, ranges);
    SCOPED_TRACE("model " + std::to_string(c.model) + " SENS_AVG " + std::to_string(c.sensAvg));
    for (int16_t i : {reg::XGYRO_OUT, reg::YGYRO_OUT, reg::ZGYRO_OUT})
      EXPECT_EQ(GyroScale(i), c.scale);
    EXPECT_EQ(ranges.GyroChartMax, 350.0);
    EXPECT_EQ(ranges.GyroChartMin, -350.0);
  }
}

TEST_F(SetDeviceTest, NoInterfaceGivesZeroGyroScales) {
  selection.InterfaceType = 0;
  SetSensAvg(0x0400);
  SETGYROSCALES(21420, access, ranges);
  EXPECT_EQ(GyroScale(reg::XGYRO_OUT), 0.0f);
}

TEST_F(SetDeviceTest, ViewRangesAndSelectionPerModel) {
  struct Case {
    int16_t model;
    int16_t checked;
    bool yzVisible;
    const char* caption9;
    const char* caption10;
    double accelMax;
    const char *top, *middle, *bottom;
  };
  const Case cases[] = {
      {21410, 21410, false, "Pitch_Out", "Roll_Out", 1.5, "1.5", "0", "-1.5"},
      {21420, 21420, true, "Y_Temp (degC)", "Z_Temp (degC)", 10, "10", "0", "-10"},
      {21430, 21430, true, "Y_Temp (degC)", "Z_Temp (degC)", 1.7, "1.7", "0", "-1.7"},
      {21440, 21440, true, "Y_Temp (degC)", "Z_Temp (degC)", 10, "10", "0", "-10"},
      {21450, 21450, true, "Y_Temp (degC)", "Z_Temp (degC)", 10, "10", "0", "-10"},
      {21460, 21460, true, "Y_Temp (degC)", "Z_Temp (degC)", 10, "10", "0", "-10"},
      {21470, 21470, true, "Y_Temp (degC)", "Z_Temp (degC)", 10, "10", "0", "-10"},
      {21480, 21480, true, "Y_Temp (degC)", "Z_Temp (degC)", 10, "10", "0", "-10"},
      {21490, 21490, true, "Y_Temp (degC)", "Z_Temp (degC)", 10, "10", "0", "-10"},
      {0, 0, true, "Y_Temp (degC)", "Z_Temp (degC)", 10, "10", "0", "-10"},
      {-12, 0, true, "Y_Temp (degC)", "Z_Temp (degC)", 10, "10", "0", "-10"},
  };
  SetSensAvg(0x0400);
  for (const Case& c : cases) {
    SCOPED_TRACE("model " + std::to_string(c.model));
    messages.messages.clear();
    const DeviceView view = SetDevice(c.model, selection, access, ranges, messages);
    EXPECT_EQ(selection.DeviceType, c.model);
    EXPECT_EQ(view.checkedModel, c.checked);
    EXPECT_EQ(view.gyroYZVisible, c.yzVisible);
    EXPECT_EQ(view.caption9, c.caption9);
    EXPECT_EQ(view.caption10, c.caption10);
    EXPECT_EQ(ranges.AccelChartMax, c.accelMax);
    EXPECT_EQ(ranges.AccelChartMin, -c.accelMax);
    EXPECT_EQ(view.lblpFS2, c.top);
    EXPECT_EQ(view.lblmidS2, c.middle);
    EXPECT_EQ(view.lblnFS2, c.bottom);
    EXPECT_EQ(view.frameCaption, "Data Plot   Device = " + std::to_string(c.model));
    EXPECT_EQ(messages.messages.size(), c.checked == 0 ? 1u : 0u);
    EXPECT_EQ(GyroScale(reg::ZGYRO_OUT), GyroBaseScale(c.model));
  }
}

TEST_F(SetDeviceTest, UnrecognisedModelIsReportedAndKeepsTheCommonSetting) {
  SetSensAvg(0x0400);
  SetDevice(0, selection, access, ranges, messages);
  ASSERT_EQ(messages.messages.size(), 1u);
  const Message expected{
      "\r\nERROR\r\nModule Name = frmForm1\r\nRoutine Name = SetDevice\r\n"
      "ProductNumber = 0\r\nThis product number is NOT recognized.\r\n",
      "", MessageIcon::Error};
  EXPECT_EQ(messages.messages[0], expected);
  EXPECT_EQ(table[reg::SUPPLY_OUT].RegScale, 0.002418f);
  EXPECT_EQ(GyroScale(reg::XGYRO_OUT), 0.07326f);

  messages.messages.clear();
  SetDevice(-32768, selection, access, ranges, messages);
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_NE(messages.messages[0].text.find("ProductNumber = -32768\r\n"), std::string::npos);
  EXPECT_EQ(selection.DeviceType, -32768);
}

TEST_F(SetDeviceTest, SwitchingBackFromTheAngleModelRestoresTemperatures) {
  SetSensAvg(0x0400);
  SetDevice(21410, selection, access, ranges, messages);
  EXPECT_EQ(table[reg::YTEMP_OUT].RegName, "Pitch_OUT");
  const DeviceView view = SetDevice(21420, selection, access, ranges, messages);
  EXPECT_EQ(table[reg::YTEMP_OUT].RegName, "YTEMP_OUT");
  EXPECT_EQ(table[reg::ZTEMP_OUT].RegName, "ZTEMP_OUT");
  EXPECT_EQ(table[reg::YTEMP_OUT].RegOffset, 25.0f);
  EXPECT_EQ(table[reg::ZTEMP_OUT].RegWidth, 12);
  EXPECT_TRUE(view.gyroYZVisible);
  EXPECT_TRUE(messages.messages.empty());
}

TEST_F(SetDeviceTest, LabelsUseTheDecimalSeparator) {
  const DeviceView view = SetDevice(21410, selection, access, ranges, messages, ',');
  EXPECT_EQ(view.lblpFS2, "1,5");
  EXPECT_EQ(view.lblnFS2, "-1,5");
  EXPECT_EQ(view.lblmidS2, "0");
}

}  // namespace
}  // namespace pemra
