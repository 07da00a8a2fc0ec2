// Register words decoded into named fields, per register family and model, and one field
// written alone. Expected lines are written out from the sensor's register description.

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/DeviceModel.h"
#include "core/FieldWrite.h"
#include "core/RegisterFields.h"
#include "RecordingTransport.h"

namespace pemra {
namespace {

struct DecodeCase {
  int16_t model;
  int16_t index;
  int32_t word;
  std::optional<int32_t> almCtrl;
  std::string lines;  // FieldLines of the word
};

std::string Decoded(const DecodeCase& c) {
  RegisterTable table;
  InitRegisterTable(table);
  ApplyModelTable(c.model, table);
  // The gyro scales at range code 4, as SETGYROSCALES leaves them.
  for (int16_t i : {reg::XGYRO_OUT, reg::YGYRO_OUT, reg::ZGYRO_OUT})
    table[static_cast<size_t>(i)].RegScale = GyroBaseScale(c.model);
  return FieldLines(DecodeRegister(table, c.index, c.word, FieldContext{c.model, c.almCtrl, '.'}));
}

void ExpectDecoded(const std::vector<DecodeCase>& cases) {
  for (const DecodeCase& c : cases) {
    EXPECT_EQ(Decoded(c), c.lines) << "model " << c.model << " index " << c.index << " word "
                                   << std::hex << c.word;
  }
}

TEST(RegisterFields, ControlRegisters) {
  ExpectDecoded({
      {21420, reg::MSC_CTRL, 0x0006, {},
       "  dr_line\t0\t0\tDI/O1\n  dr_polarity\t1\t1\thigh\n  dr_enable\t2\t1\ton\n"
       "  self_test\t8\t0\toff\n  auto_self_test\t10\t0\toff\n"},
      {21420, reg::MSC_CTRL, 0x0501, {},
       "  dr_line\t0\t1\tDI/O2\n  dr_polarity\t1\t0\tlow\n  dr_enable\t2\t0\toff\n"
       "  self_test\t8\t1\ton\n  auto_self_test\t10\t1\trunning\n"},
      {21420, reg::SMPL_PRD, 0x0001, {},
       "  multiplier\t0-6\t1\tsample period 1.2207 ms, 819.2 samples/s\n"
       "  time_base\t7\t0\t0.61035 ms\n"},
      {21420, reg::SMPL_PRD, 0x0080, {},
       "  multiplier\t0-6\t0\tsample period 18.921 ms, 52.851 samples/s\n"
       "  time_base\t7\t1\t18.921 ms\n"},
      {21420, reg::SMPL_PRD, 0x00FF, {},
       "  multiplier\t0-6\t127\tsample period 2421.9 ms, 0.4129 samples/s\n"
       "  time_base\t7\t1\t18.921 ms\n"},
      {21420, reg::SENS_AVG, 0x0402, {},
       "  taps_exponent\t0-2\t2\t4 taps\n"
       "  gyro_range\t8-10\t4\thighest range, 0.07326 deg/s per LSB\n"},
      {21420, reg::SENS_AVG, 0x0100, {},
       "  taps_exponent\t0-2\t0\t1 tap\n"
       "  gyro_range\t8-10\t1\tlowest range, 0.018315 deg/s per LSB\n"},
      {21490, reg::SENS_AVG, 0x0207, {},
       "  taps_exponent\t0-2\t7\t128 taps\n"
       "  gyro_range\t8-10\t2\tmiddle range, 0.1 deg/s per LSB\n"},
      {21420, reg::SENS_AVG, 0x0306, {},
       "  taps_exponent\t0-2\t6\t64 taps\n  gyro_range\t8-10\t3\tnot a range code\n"},
      {21420, reg::GPIO_CTRL, 0x0201, {},
       "  dir0\t0\t1\toutput\n  dir1\t1\t0\tinput\n  level0\t8\t0\tlow\n  level1\t9\t1\thigh\n"},
      {21420, reg::AUX_DAC, 0x07AD, {}, "  code\t0-11\t1965\t1.19963 V\n"},
      {21420, reg::SLP_CNT, 0x0005, {}, "  sleep_count\t0-7\t5\tsleep 2.5 s\n"},
      {21420, reg::SLP_CNT, 0x0000, {}, "  sleep_count\t0-7\t0\tawake\n"},
      {21420, reg::ENDURANCE, 0x0003, {}, "  count\t0-15\t3\t3 flash updates\n"},
  });
}

TEST(RegisterFields, OutputRegistersFollowTheModel) {
  ExpectDecoded({
      {21420, reg::XGYRO_OUT, 0xBFFF, {},
       "  data\t0-13\t-1\t-0.07326 deg/s\n  error\t14\t0\tnone\n  new_data\t15\t1\tnew sample\n"},
      // Supply: 12 bits on 21420, 14 bits on the common setting.
      {21420, reg::SUPPLY_OUT, 0x7AAA, {},
       "  data\t0-11\t2730\t4.999995 V\n  error\t14\t1\terror or alarm (see STATUS)\n"
       "  new_data\t15\t0\talready read\n"},
      {21450, reg::SUPPLY_OUT, 0x7AAA, {},
       "  data\t0-13\t15018\t36.31353 V\n  error\t14\t1\terror or alarm (see STATUS)\n"
       "  new_data\t15\t0\talready read\n"},
      // Temperature (12 bits around 25 degrees) or, on 21410, pitch (13 bits, 0.044 deg).
      {21420, reg::YTEMP_OUT, 0x1FFF, {},
       "  data\t0-11\t-1\t24.8547 degC\n  error\t14\t0\tnone\n  new_data\t15\t0\talready read\n"},
      {21410, reg::YTEMP_OUT, 0x1FFF, {},
       "  data\t0-12\t-1\t-0.044 deg\n  error\t14\t0\tnone\n  new_data\t15\t0\talready read\n"},
      {21410, reg::ZGYRO_OUT, 0x8000, {},
       "  data\t0-13\t0\t0 deg/s (model 21410 has no such gyro)\n  error\t14\t0\tnone\n"
       "  new_data\t15\t1\tnew sample\n"},
  });
}

TEST(RegisterFields, OffsetsInTheModelsUnits) {
  ExpectDecoded({
      {21420, reg::XGYRO_OFF, 0x1FFF, {}, "  offset\t0-12\t-1\t-0.018315 deg/s\n"},
      {21490, reg::YGYRO_OFF, 0x1FFF, {}, "  offset\t0-12\t-1\t-0.05 deg/s\n"},
      {21410, reg::ZGYRO_OFF, 0x0FFF, {}, "  offset\t0-12\t4095\t51.1875 deg/s\n"},
      {21420, reg::XACCL_OFF, 0x0800, {}, "  offset\t0-11\t-2048\t-5.165056 g\n"},
      {21430, reg::ZACCL_OFF, 0x0800, {}, "  offset\t0-11\t-2048\t-0.9568256 g\n"},
  });
}

TEST(RegisterFields, AlarmRegisters) {
  ExpectDecoded({
      {21420, reg::ALM_MAG1, 0x8555, 0x0200,
       "  level\t0-13\t1365\t100.000 deg/s (X_Gyro)\n  polarity\t15\t1\tgreater than\n"},
      {21420, reg::ALM_MAG2, 0x0F0F, 0x8000,
       "  level\t0-13\t3855\t-10.017 degC (X_Temp)\n  polarity\t15\t0\tless than\n"},
      // Pitch on 21410: a 13-bit code at 0.044 degrees.
      {21410, reg::ALM_MAG2, 0x1FFF, 0x9000,
       "  level\t0-13\t8191\t-0.044 deg (Y_Temp)\n  polarity\t15\t0\tless than\n"},
      {21420, reg::ALM_MAG1, 0x0AAA, 0x0000,
       "  level\t0-13\t2730\talarm off (source Disabled)\n  polarity\t15\t0\tless than\n"},
      {21420, reg::ALM_MAG1, 0x0AAA, {},
       "  level\t0-13\t2730\ttrigger code (source in ALM_CTRL)\n  polarity\t15\t0\tless than\n"},
      {21420, reg::ALM_SMPL1, 0x00FF, {}, "  samples\t0-7\t255\t255 samples\n"},
      {21420, reg::ALM_CTRL, 0xB247, {},
       "  indicator_line\t0\t1\tDI/O1\n  indicator_polarity\t1\t1\thigh\n"
       "  indicator_enable\t2\t1\ton\n  rate_of_change1\t6\t1\ton\n  rate_of_change2\t7\t0\toff\n"
       "  source1\t8-11\t2\tX_Gyro\n  source2\t12-15\t11\tAux_ADC\n"},
      {21420, reg::ALM_CTRL, 0xC000, {},
       "  indicator_line\t0\t0\tDI/O0\n  indicator_polarity\t1\t0\tlow\n"
       "  indicator_enable\t2\t0\toff\n  rate_of_change1\t6\t0\toff\n  rate_of_change2\t7\t0\toff\n"
       "  source1\t8-11\t0\tDisabled\n  source2\t12-15\t12\tnot defined\n"},
  });
}

TEST(RegisterFields, StatusAndCommand) {
  ExpectDecoded({
      {21420, reg::STATUS, 0x0229, {},
       "  supply_low\t0\t1\tsupply below 4.75 V\n  supply_high\t1\t0\tok\n"
       "  control_write_failed\t2\t0\tok\n  spi_frame_error\t3\t1\tSPI frame error\n"
       "  flash_update_failed\t4\t0\tok\n  self_test_failed\t5\t1\tself-test failed\n"
       "  alarm1\t8\t0\toff\n  alarm2\t9\t1\talarm 2 active\n"},
      {21420, reg::COMMAND, 0x0008, {},
       "  auto_null\t0\t0\t-\n  factory_restore\t1\t0\t-\n  dac_latch\t2\t0\t-\n"
       "  flash_update\t3\t1\trun\n  precision_auto_null\t4\t0\t-\n  software_reset\t7\t0\t-\n"},
  });
}

// Every register of every model has named fields, with distinct lower-case names, inside the
// 16 bits and not overlapping; read-only registers have only read-only fields.
TEST(RegisterFields, EveryRegisterOfEveryModelHasDistinctFields) {
  for (const int16_t model : kModelCodes) {
    RegisterTable table;
    InitRegisterTable(table);
    ApplyModelTable(model, table);
    for (int16_t index = 0; index < kFilledRegisters; ++index) {
      const std::vector<RegisterField> fields = RegisterFields(table, index);
      ASSERT_FALSE(fields.empty()) << model << " " << index;
      std::set<std::string_view> names;
      int32_t used = 0;
      for (const RegisterField& field : fields) {
        EXPECT_TRUE(names.insert(field.name).second) << field.name;
        EXPECT_EQ(field.bits.Mask() & used, 0) << index << " " << field.name;
        EXPECT_EQ(field.bits.Mask() & ~0xFFFF, 0) << index << " " << field.name;
        used |= field.bits.Mask();
        for (char c : field.name) {
          EXPECT_TRUE(c == '_' || std::islower(c) || std::isdigit(c)) << field.name;
        }
        if (!table[static_cast<size_t>(index)].RegWritable) {
          EXPECT_FALSE(field.Writable()) << field.name;
        }
      }
    }
  }
  EXPECT_TRUE(RegisterFields(RegisterTable{}, 32).empty());
}

TEST(FieldWrite, ValuesAndRefusals) {
  RegisterTable table;
  InitRegisterTable(table);
  const auto msc = *FindField(table, reg::MSC_CTRL, "DR_ENABLE");
  const auto offset = *FindField(table, reg::XGYRO_OFF, "offset");
  const auto status = *FindField(table, reg::STATUS, "alarm1");
  EXPECT_FALSE(FindField(table, reg::MSC_CTRL, "dr_enabled"));

  struct Case {
    const RegisterField& field;
    std::string text;
    std::optional<int32_t> value;
  };
  const std::vector<Case> parsed = {
      {msc, "1", 1},   {msc, "On", 1},     {msc, "off", 0},   {msc, "0x1", 1},
      {msc, "yes", {}}, {msc, "+1", {}},   {msc, "", {}},     {msc, "1.0", {}},
      {offset, "-4096", -4096}, {offset, "0x1FFF", 0x1FFF}, {offset, "0x-1", {}},
  };
  for (const Case& c : parsed) EXPECT_EQ(ParseFieldValue(c.field, c.text), c.value) << c.text;

  const struct {
    int16_t index;
    const RegisterField& field;
    int32_t value;
    std::string refusal;
  } refusals[] = {
      {reg::MSC_CTRL, msc, 2, "2 does not fit MSC_CTRL.dr_enable (bits 2): give 0 to 1"},
      {reg::MSC_CTRL, msc, -1, "-1 does not fit MSC_CTRL.dr_enable (bits 2): give 0 to 1"},
      {reg::XGYRO_OFF, offset, 4096,
       "4096 does not fit XGYRO_ OFF.offset (bits 0-12): give -4096 to 4095"},
      {reg::XGYRO_OFF, offset, -4097,
       "-4097 does not fit XGYRO_ OFF.offset (bits 0-12): give -4096 to 4095"},
      {reg::STATUS, status, 0, "STATUS.alarm1 is read-only"},
  };
  for (const auto& r : refusals) {
    EXPECT_EQ(FieldWriteRefusal(table[static_cast<size_t>(r.index)], r.field, r.value), r.refusal);
  }
  EXPECT_EQ(FieldWriteRefusal(table[reg::XGYRO_OFF], offset, -4096), std::nullopt);
  EXPECT_EQ(FieldWriteRefusal(table[reg::XGYRO_OFF], offset, 4095), std::nullopt);
}

// One read, one write and one read-back; the other bits keep the word read. The low-power
// refusal comes after the read, with nothing written.
TEST(FieldWrite, ReadModifyWriteReadBack) {
  RegisterTable table;
  InitRegisterTable(table);
  Selection selection;
  selection.InterfaceType = 2;
  TestClock clock;
  RegisterAccess access(table, selection, clock);
  test::RecordingTransport transport;
  access.SetUsbTransport(&transport);

  transport.SetWord(0x34, 0x0507);  // MSC_CTRL
  FieldWriteResult r = WriteField(access, reg::MSC_CTRL, *FindField(table, reg::MSC_CTRL, "dr_polarity"), 0);
  EXPECT_TRUE(r.Written());
  EXPECT_EQ(r.oldWord, 0x0507);
  EXPECT_EQ(r.newWord, 0x0505);
  EXPECT_EQ(transport.reads, (std::vector<int16_t>{0x34, 0x34}));
  ASSERT_EQ(transport.writes.size(), 1u);
  EXPECT_EQ(transport.writes[0], std::make_pair(0xB505, 0xB405));
  EXPECT_EQ(r.readBackWord, 0x0507);  // the recording transport keeps its word
  EXPECT_FALSE(r.holds);

  // A negative offset keeps its 13-bit two's complement; bits above it stay as read.
  transport.reads.clear();
  transport.writes.clear();
  transport.SetWord(0x1A, 0x0000);
  r = WriteField(access, reg::XGYRO_OFF, *FindField(table, reg::XGYRO_OFF, "offset"), -2);
  EXPECT_EQ(r.newWord, 0x1FFE);
  EXPECT_EQ(transport.writes.at(0), std::make_pair(0x9B1F, 0x9AFE));

  // Over the adapter SMPL_PRD stays at 9 or below: a time base of 1 is refused after the read.
  transport.reads.clear();
  transport.writes.clear();
  transport.SetWord(0x36, 0x0001);
  r = WriteField(access, reg::SMPL_PRD, *FindField(table, reg::SMPL_PRD, "time_base"), 1);
  EXPECT_FALSE(r.Written());
  EXPECT_NE(r.refusal.find("SMPL_PRD 0081 would put the sensor into low-power sampling"),
            std::string::npos);
  EXPECT_EQ(transport.reads.size(), 1u);
  EXPECT_TRUE(transport.writes.empty());
  r = WriteField(access, reg::SMPL_PRD, *FindField(table, reg::SMPL_PRD, "multiplier"), 9);
  EXPECT_TRUE(r.Written());
  selection.InterfaceType = 1;
  transport.writes.clear();
  access.SetParallelTransport(&transport);
  r = WriteField(access, reg::SMPL_PRD, *FindField(table, reg::SMPL_PRD, "time_base"), 1);
  EXPECT_TRUE(r.Written());
  EXPECT_EQ(transport.writes.size(), 1u);

  // A command is written alone: no read before or after.
  transport.reads.clear();
  transport.writes.clear();
  r = WriteField(access, reg::COMMAND, *FindField(table, reg::COMMAND, "flash_update"), 1);
  EXPECT_TRUE(r.Written());
  EXPECT_TRUE(transport.reads.empty());
  EXPECT_EQ(transport.writes.at(0), std::make_pair(0xBF00, 0xBE08));

  // A read-only field sends nothing.
  transport.writes.clear();
  r = WriteField(access, reg::STATUS, *FindField(table, reg::STATUS, "alarm1"), 1);
  EXPECT_EQ(r.refusal, "STATUS.alarm1 is read-only");
  EXPECT_TRUE(transport.reads.empty());
  EXPECT_TRUE(transport.writes.empty());
}

}  // namespace
}  // namespace pemra
