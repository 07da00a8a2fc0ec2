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

}  // namespace
}  // namespace pemra
