#include <gtest/gtest.h>

#include "core/RegisterTable.h"

namespace pemra {
namespace {

struct Expected {
  const char* name;
  int32_t address;
  int bytes;
  bool r, w;
  int width;
  bool s, nd;
  float scale, offset;
};

constexpr bool Y = true;
constexpr bool N = false;

// The power-on register table, entry by entry.
const Expected kPowerOn[32] = {
    {"ENDURANCE", 0, 2, Y, N, 16, N, N, 1, 0},
    {"SUPPLY_OUT", 2, 2, Y, N, 12, N, Y, 0.0018315f, 0},
    {"XGYRO_OUT", 4, 2, Y, N, 14, Y, Y, 0.07326f, 0},
    {"YGYRO_OUT", 6, 2, Y, N, 14, Y, Y, 0.07326f, 0},
    {"ZGYRO_OUT", 8, 2, Y, N, 14, Y, Y, 0.07326f, 0},
    {"XACCL_OUT", 10, 2, Y, N, 14, Y, Y, 0.002522f, 0},
    {"YACCL_OUT", 12, 2, Y, N, 14, Y, Y, 0.002522f, 0},
    {"ZACCL_OUT", 14, 2, Y, N, 14, Y, Y, 0.002522f, 0},
    {"XTEMP_OUT", 16, 2, Y, N, 12, Y, Y, 0.1453f, 25},
    {"YTEMP_OUT", 18, 2, Y, N, 12, Y, Y, 0.1453f, 25},
    {"ZTEMP_OUT", 20, 2, Y, N, 12, Y, Y, 0.1453f, 25},
    {"AUX_ADC", 22, 2, Y, N, 12, N, Y, 0.0006105f, 0},
    {"Reserved", 24, 2, N, N, 12, N, N, 1, 0},
    {"XGYRO_ OFF", 26, 2, Y, Y, 13, Y, N, 0.018315f, 0},
    {"YGYRO_ OFF", 28, 2, Y, Y, 13, Y, N, 0.018315f, 0},
    {"ZGYRO_ OFF", 30, 2, Y, Y, 13, Y, N, 0.018315f, 0},
    {"XACCL_ OFF", 32, 2, Y, Y, 12, Y, N, 0.002543235f, 0},
    {"YACCL_ OFF", 34, 2, Y, Y, 12, Y, N, 0.002543235f, 0},
    {"ZACCL_ OFF", 36, 2, Y, Y, 12, Y, N, 0.002543235f, 0},
    {"ALM_MAG1", 38, 2, Y, Y, 16, N, N, 1, 0},
    {"ALM_MAG2", 40, 2, Y, Y, 16, N, N, 1, 0},
    {"ALM_SMPL1", 42, 2, Y, Y, 8, N, N, 1, 0},
    {"ALM_SMPL2", 44, 2, Y, Y, 8, N, N, 1, 0},
    {"ALM_CTRL", 46, 2, Y, Y, 16, N, N, 1, 0},
    {"AUX_DAC", 48, 2, Y, Y, 12, N, N, 1, 0},
    {"GPIO_CTRL", 50, 2, Y, Y, 10, N, N, 1, 0},
    {"MSC_CTRL", 52, 2, Y, Y, 11, N, N, 1, 0},
    {"SMPL_PRD", 54, 2, Y, Y, 8, N, N, 1, 0},
    {"SENS_AVG", 56, 2, Y, Y, 11, N, N, 1, 0},
    {"SLP_CNT", 58, 1, Y, Y, 8, N, N, 1, 0},
    {"STATUS", 60, 2, Y, N, 16, N, N, 1, 0},
    {"COMMAND", 62, 1, N, Y, 8, N, N, 1, 0},
};

TEST(InitRegisterTable, FillsThePowerOnTable) {
  RegisterTable table;
  // Leftovers from an earlier model must not survive a new fill.
  table[9].RegName = "Pitch_OUT";
  table[100].RegReadable = true;
  table[100].RegAddress = 12;
  InitRegisterTable(table);
  for (int i = 0; i < kFilledRegisters; ++i) {
    const Expected& e = kPowerOn[i];
    const RegisterEntry& entry = table[static_cast<size_t>(i)];
    SCOPED_TRACE("index " + std::to_string(i));
    EXPECT_EQ(entry.RegName, e.name);
    EXPECT_EQ(entry.RegAddress, e.address);
    EXPECT_EQ(entry.RegBytes, e.bytes);
    EXPECT_EQ(entry.RegReadable, e.r);
    EXPECT_EQ(entry.RegWritable, e.w);
    EXPECT_EQ(entry.RegWidth, e.width);
    EXPECT_EQ(entry.RegSigned, e.s);
    EXPECT_EQ(entry.RegHasNewData, e.nd);
    EXPECT_EQ(entry.RegScale, e.scale);  // exact comparison as 32-bit floats
    EXPECT_EQ(entry.RegOffset, e.offset);
  }
  for (int i = kFilledRegisters; i < kRegisterTableSize; ++i) {
    const RegisterEntry& entry = table[static_cast<size_t>(i)];
    SCOPED_TRACE("index " + std::to_string(i));
    EXPECT_TRUE(entry.RegName.empty());
    EXPECT_EQ(entry.RegAddress, 0);
    EXPECT_EQ(entry.RegBytes, 0);
    EXPECT_FALSE(entry.RegReadable);
    EXPECT_FALSE(entry.RegWritable);
    EXPECT_EQ(entry.RegWidth, 0);
    EXPECT_FALSE(entry.RegSigned);
    EXPECT_FALSE(entry.RegHasNewData);
    EXPECT_EQ(entry.RegScale, 0.0f);
    EXPECT_EQ(entry.RegOffset, 0.0f);
  }
}

TEST(InitRegisterTable, IndexConstantsNameTheirEntries) {
  RegisterTable table;
  InitRegisterTable(table);
  const std::pair<int16_t, const char*> names[] = {
      {reg::ENDURANCE, "ENDURANCE"},   {reg::SUPPLY_OUT, "SUPPLY_OUT"},
      {reg::XGYRO_OUT, "XGYRO_OUT"},   {reg::YGYRO_OUT, "YGYRO_OUT"},
      {reg::ZGYRO_OUT, "ZGYRO_OUT"},   {reg::XACCL_OUT, "XACCL_OUT"},
      {reg::YACCL_OUT, "YACCL_OUT"},   {reg::ZACCL_OUT, "ZACCL_OUT"},
      {reg::XTEMP_OUT, "XTEMP_OUT"},   {reg::YTEMP_OUT, "YTEMP_OUT"},
      {reg::ZTEMP_OUT, "ZTEMP_OUT"},   {reg::AUX_ADC, "AUX_ADC"},
      {reg::Reserved, "Reserved"},     {reg::XGYRO_OFF, "XGYRO_ OFF"},
      {reg::YGYRO_OFF, "YGYRO_ OFF"},  {reg::ZGYRO_OFF, "ZGYRO_ OFF"},
      {reg::XACCL_OFF, "XACCL_ OFF"},  {reg::YACCL_OFF, "YACCL_ OFF"},
      {reg::ZACCL_OFF, "ZACCL_ OFF"},  {reg::ALM_MAG1, "ALM_MAG1"},
      {reg::ALM_MAG2, "ALM_MAG2"},     {reg::ALM_SMPL1, "ALM_SMPL1"},
      {reg::ALM_SMPL2, "ALM_SMPL2"},   {reg::ALM_CTRL, "ALM_CTRL"},
      {reg::AUX_DAC, "AUX_DAC"},       {reg::GPIO_CTRL, "GPIO_CTRL"},
      {reg::MSC_CTRL, "MSC_CTRL"},     {reg::SMPL_PRD, "SMPL_PRD"},
      {reg::SENS_AVG, "SENS_AVG"},     {reg::SLP_CNT, "SLP_CNT"},
      {reg::STATUS, "STATUS"},         {reg::COMMAND, "COMMAND"},
  };
  for (const auto& [index, name] : names) EXPECT_EQ(table[index].RegName, name);
}

TEST(FindRegister, AcceptsNamesInAnyCaseOffsetNamesWithoutBlankAndIndexes) {
  RegisterTable table;
  InitRegisterTable(table);
  struct Case {
    std::string_view text;
    std::optional<int16_t> index;
  };
  const Case cases[] = {
      {"MSC_CTRL", reg::MSC_CTRL},
      {"msc_ctrl", reg::MSC_CTRL},
      {"Smpl_Prd", reg::SMPL_PRD},
      {"XGYRO_ OFF", reg::XGYRO_OFF},
      {"XGYRO_OFF", reg::XGYRO_OFF},
      {"zaccl_off", reg::ZACCL_OFF},
      {"  STATUS ", reg::STATUS},
      {"reserved", reg::Reserved},
      {"0", 0},
      {"26", 26},
      {"031", 31},
      {"32", std::nullopt},
      {"296", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"-1", std::nullopt},
      {"+5", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"MSC", std::nullopt},
      {"MSC_CTRLX", std::nullopt},
      {"XGYRO__OFF", std::nullopt},
      {"Pitch_OUT", std::nullopt},  // only once model 21410 names entry 9 so
  };
  for (const Case& c : cases) EXPECT_EQ(FindRegister(table, c.text), c.index) << c.text;

  table[reg::YTEMP_OUT].RegName = "Pitch_OUT";
  EXPECT_EQ(FindRegister(table, "pitch_out"), reg::YTEMP_OUT);
}

}  // namespace
}  // namespace pemra
