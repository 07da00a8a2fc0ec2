#pragma once
// The simulated sensor: its register map, what reading and writing each register does, the
// commands with their busy times, flash, self-test, sleep, STATUS, the alarms and the I/O
// lines. Frames reach it only through the SPI slave (BeginFrame / EndFrame); the rest of the
// public interface is direct access for tests and for the rig's options. Everything follows
// the session clock it is given.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/Clock.h"
#include "sim/Alarms.h"
#include "sim/Flash.h"
#include "sim/Measurement.h"
#include "sim/MotionProfile.h"
#include "sim/SampleClock.h"
#include "sim/SensorRegisters.h"

namespace pemra::sim {

struct SensorOptions {
  int16_t model = 21420;
  double supplyVolts = 5.0;
  uint64_t seed = 1;
  bool noise = true;
  bool testPattern = false;
  MotionProfile motion = MotionProfile::Default();
  std::optional<std::filesystem::path> flashFile;  // flash kept in this file when set
};

// Busy times of the commands.
inline constexpr Nanoseconds kCommandBusy = std::chrono::milliseconds(50);
inline constexpr Nanoseconds kPrecisionAutoNullBusy = std::chrono::seconds(30);
inline constexpr Nanoseconds kAutoSelfTestTime = std::chrono::milliseconds(35);
inline constexpr Nanoseconds kSleepStep = std::chrono::milliseconds(500);
// Supply limits of STATUS bits 0 and 1.
inline constexpr double kSupplyLow = 4.75;
inline constexpr double kSupplyHigh = 5.25;
// Highest SMPL_PRD at which the sensor still takes the adapter's fast serial clock.
inline constexpr uint16_t kFastClockMaxSmplPrd = 0x09;

class SimulatedSensor {
 public:
  explicit SimulatedSensor(Clock& clock, SensorOptions options = {});
  // Completes whatever has come due (a flash update whose busy time is over reaches its
  // file even if nothing talks to the sensor after it).
  ~SimulatedSensor();
  SimulatedSensor(const SimulatedSensor&) = delete;
  SimulatedSensor& operator=(const SimulatedSensor&) = delete;

  // ---- the SPI side (used by SpiSlave) ----
  // A frame starts: the word to shift out during it (the answer to the previous read frame;
  // 0 after a write, after power-up, while busy or asleep).
  uint16_t BeginFrame();
  // A complete 16-bit frame was received: bit 15 set writes the byte in bits 7-0 to the byte
  // address in bits 14-8; clear, reads the register there for the next frame.
  void EndFrame(uint16_t frame);
  // A frame ended with a clock count other than 16: discarded, STATUS bit 3.
  void DiscardFrame();
  // False in low-power sampling (SMPL_PRD above 0x09): a fast serial clock garbles the output.
  bool AcceptsFastClock();

  // ---- direct access ----
  // Power off and on: registers from flash, sample count from 0, STATUS cleared.
  void PowerCycle();
  // The register word at an address (even or odd: the register holding it) as a read would
  // give it, without clearing new-data flags or STATUS bits.
  uint16_t PeekRegister(uint8_t address);
  // Writes a word as two byte writes, high byte first, with every effect a frame would have,
  // even while the sensor is busy or asleep.
  void PokeRegister(uint8_t address, uint16_t word);

  void SetModel(int16_t model);
  int16_t Model() const { return measurement_.Formats().Model(); }
  const OutputFormats& Formats() const { return measurement_.Formats(); }
  void SetMotion(const MotionProfile& profile);
  const MotionProfile& Motion() const { return measurement_.Profile(); }
  void SetGyroBias(const std::array<double, 3>& degreesPerSecond);
  void SetAccelBias(const std::array<double, 3>& g);
  void SetNoise(bool on);
  void SetSeed(uint64_t seed);
  void SetSupplyVolts(double volts);
  double SupplyVolts() const { return measurement_.Settings().supplyVolts; }
  void SetTestPattern(bool on);
  // The automatic self-test then fails, and the self-test bit gives no response.
  void InjectSelfTestFault(bool fault);
  // External level on an I/O line (0 or 1) configured as an input.
  void SetInputLevel(int line, bool high);

  // Level of I/O line 0 or 1: the alarm indicator when it drives the line, else the
  // data-ready output when enabled on it, else the written level of an output, else the
  // external input level.
  bool LineLevel(int line);
  // The level of I/O line 0 or 1 at `at` as the registers stand now (no time passes for the
  // sensor), and the earliest time from `at` on at which the line is at `level`: its own
  // time when it is there already, the next data-ready edge when the data-ready output
  // drives it, none when a register or an external input holds it elsewhere.
  bool LineLevelAt(int line, Nanoseconds at);
  std::optional<Nanoseconds> LineReaches(int line, bool level, Nanoseconds at);
  // Work of the SPI side that a master queued and ran later than the clock says (the FTDI
  // chip running commands that waited for the data-ready line) happens at this time, never
  // later than the clock; none: at the clock's time.
  void SetWorkTime(std::optional<Nanoseconds> at) { workTime_ = at; }
  bool Busy();
  bool Asleep();
  // Newest internal sample number (-1 before the first).
  int64_t LatestSample();
  // Output of the DAC (volts), changed only by the DAC latch command.
  double DacVolts() const { return measurement_.Settings().dacVolts; }
  // The data code of an output for the newest sample (what its register's data bits hold).
  int32_t OutputCode(Channel c);
  // The flash and the last failure of a flash update or of loading the flash file.
  const Flash& FlashMemory();
  const std::string& FlashError();

 private:
  Nanoseconds Now() const { return workTime_ ? *workTime_ : clock_.Now(); }
  // Ends sleep, busy time and the automatic self-test when their time has come.
  void Update(Nanoseconds now);
  void LoadRegisters(Nanoseconds now, bool restartSampling);
  void ApplySettingsFromRegisters();

  uint16_t ReadWord(uint8_t address, Nanoseconds now, bool sideEffects);
  uint16_t OutputWord(Channel c, Nanoseconds now, bool sideEffects);
  uint16_t StatusWord(Nanoseconds now);
  uint16_t AlarmBits(Nanoseconds now);

  void WriteByte(uint8_t address, uint8_t value, Nanoseconds now);
  void AfterWrite(uint8_t address, uint16_t before, uint16_t after, bool highByte,
                  Nanoseconds now);
  void StartCommands(uint8_t bits, Nanoseconds now);
  void CompleteCommands(uint8_t bits, Nanoseconds at);
  void AutoNull(Nanoseconds window);
  void SetGyroRange(int code);

  bool IsBusy(Nanoseconds now) const { return busy_ && now < busyUntil_; }

  Clock& clock_;
  Measurement measurement_;
  SampleClock samples_;
  Flash flash_;
  std::string flashError_;

  std::array<uint16_t, kRegisterWords> regs_{};
  std::array<int64_t, kChannels> lastRead_{};  // sample last read per output register
  uint16_t latched_ = 0;                       // latched STATUS error bits
  uint16_t pending_ = 0;                       // answer for the next frame
  int rangeCode_ = 4;                          // gyro range in force (1, 2 or 4)

  bool busy_ = false;
  Nanoseconds busyUntil_{0};
  uint8_t pendingCommands_ = 0;
  int64_t nullRuns_ = 0;          // numbers the auto-null noise draws

  bool asleep_ = false;
  Nanoseconds sleepUntil_{0};

  bool selfTestRunning_ = false;
  Nanoseconds selfTestUntil_{0};

  std::array<bool, 2> inputLevel_{};
  std::optional<Nanoseconds> workTime_;
};

}  // namespace pemra::sim
