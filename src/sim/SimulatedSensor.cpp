#include "sim/SimulatedSensor.h"

#include <algorithm>
#include <cmath>

namespace pemra::sim {

namespace {

constexpr Nanoseconds kAutoNullWindow = kCommandBusy;
constexpr double kDacFullScale = 2.5;  // volts at code 4095

uint16_t& Reg(std::array<uint16_t, kRegisterWords>& regs, uint8_t address) {
  return regs[size_t(WordIndex(address))];
}

}  // namespace

SimulatedSensor::SimulatedSensor(Clock& clock, SensorOptions options)
    : clock_(clock),
      measurement_(options.model, options.motion, options.seed),
      flash_(options.flashFile),
      flashError_(flash_.LoadError()) {
  MeasurementSettings& s = measurement_.EditSettings();
  s.supplyVolts = options.supplyVolts;
  s.noise = options.noise;
  s.testPattern = options.testPattern;
  LoadRegisters(Now(), true);
}

SimulatedSensor::~SimulatedSensor() { Update(Now()); }

// ---- power, flash, settings ----

const Flash& SimulatedSensor::FlashMemory() {
  Update(Now());
  return flash_;
}

const std::string& SimulatedSensor::FlashError() {
  Update(Now());
  return flashError_;
}

void SimulatedSensor::PowerCycle() { LoadRegisters(Now(), true); }

void SimulatedSensor::LoadRegisters(Nanoseconds now, bool restartSampling) {
  for (int i = 0; i < kRegisterWords; ++i) {
    const RegisterInfo& info = kRegisterInfo[size_t(i)];
    regs_[size_t(i)] = info.inFlash ? flash_.Contents()[size_t(i)] : info.powerOn;
  }
  Reg(regs_, addr::MSC_CTRL) &= uint16_t(~msc::AutoSelfTest);
  latched_ = 0;
  pending_ = 0;
  busy_ = false;
  pendingCommands_ = 0;
  asleep_ = false;
  selfTestRunning_ = false;
  rangeCode_ = 4;
  const int code = (Reg(regs_, addr::SENS_AVG) >> 8) & 7;
  if (code == 1 || code == 2 || code == 4) rangeCode_ = code;

  const Nanoseconds period = SamplePeriod(Reg(regs_, addr::SMPL_PRD));
  if (restartSampling) {
    samples_.Start(now, period);
    lastRead_.fill(-1);
  } else {
    samples_.Resume(now);
    samples_.SetPeriod(now, period);
  }
  ApplySettingsFromRegisters();
  // The DAC comes up driving the code it was saved with.
  measurement_.EditSettings().dacVolts =
      Reg(regs_, addr::AUX_DAC) * kDacFullScale / 4095.0;
}

void SimulatedSensor::ApplySettingsFromRegisters() {
  MeasurementSettings& s = measurement_.EditSettings();
  s.taps = int64_t{1} << (Reg(regs_, addr::SENS_AVG) & 7);
  s.gyroScale = measurement_.Formats().GyroBaseScale() * rangeCode_ / 4.0;
  const std::array<uint8_t, 3> gyroOff = {addr::XGYRO_OFF, addr::YGYRO_OFF, addr::ZGYRO_OFF};
  const std::array<uint8_t, 3> accelOff = {addr::XACCL_OFF, addr::YACCL_OFF, addr::ZACCL_OFF};
  for (size_t i = 0; i < 3; ++i) {
    s.gyroOffset[i] = SignExtend(Reg(regs_, gyroOff[i]), 13);
    s.accelOffset[i] = SignExtend(Reg(regs_, accelOff[i]), 12);
  }
  s.selfTest = (Reg(regs_, addr::MSC_CTRL) & msc::SelfTest) != 0;
  measurement_.SamplesChanged();
}

void SimulatedSensor::SetModel(int16_t model) {
  measurement_.SetModel(model);
  ApplySettingsFromRegisters();
}

void SimulatedSensor::SetMotion(const MotionProfile& profile) { measurement_.SetProfile(profile); }

void SimulatedSensor::SetGyroBias(const std::array<double, 3>& degreesPerSecond) {
  MotionProfile p = measurement_.Profile();
  p.gyroBias = degreesPerSecond;
  measurement_.SetProfile(p);
}

void SimulatedSensor::SetAccelBias(const std::array<double, 3>& g) {
  MotionProfile p = measurement_.Profile();
  p.accelBias = g;
  measurement_.SetProfile(p);
}

void SimulatedSensor::SetNoise(bool on) { measurement_.EditSettings().noise = on; }
void SimulatedSensor::SetSeed(uint64_t seed) { measurement_.SetSeed(seed); }
void SimulatedSensor::SetSupplyVolts(double volts) { measurement_.EditSettings().supplyVolts = volts; }
void SimulatedSensor::SetTestPattern(bool on) { measurement_.EditSettings().testPattern = on; }
void SimulatedSensor::InjectSelfTestFault(bool fault) {
  measurement_.EditSettings().selfTestFault = fault;
}

void SimulatedSensor::SetInputLevel(int line, bool high) {
  if (line == 0 || line == 1) inputLevel_[size_t(line)] = high;
}

// ---- time ----

void SimulatedSensor::Update(Nanoseconds now) {
  if (asleep_ && now >= sleepUntil_) {
    asleep_ = false;
    Reg(regs_, addr::SLP_CNT) = 0;
    samples_.Resume(sleepUntil_);
    measurement_.SamplesChanged();
  }
  if (busy_ && now >= busyUntil_) {
    busy_ = false;
    const uint8_t bits = pendingCommands_;
    pendingCommands_ = 0;
    CompleteCommands(bits, busyUntil_);
  }
  if (selfTestRunning_ && now >= selfTestUntil_) {
    selfTestRunning_ = false;
    Reg(regs_, addr::MSC_CTRL) &= uint16_t(~msc::AutoSelfTest);
    if (measurement_.Settings().selfTestFault) latched_ |= status::SelfTestFailed;
  }
}

bool SimulatedSensor::Busy() {
  const Nanoseconds now = Now();
  Update(now);
  return IsBusy(now);
}

bool SimulatedSensor::Asleep() {
  Update(Now());
  return asleep_;
}

int64_t SimulatedSensor::LatestSample() {
  const Nanoseconds now = Now();
  Update(now);
  return samples_.Latest(now);
}

int32_t SimulatedSensor::OutputCode(Channel c) {
  const int64_t k = LatestSample();
  return k < 0 ? 0 : measurement_.Code(c, k, samples_);
}

// ---- frames ----

uint16_t SimulatedSensor::BeginFrame() {
  const Nanoseconds now = Now();
  Update(now);
  const uint16_t answer = (asleep_ || IsBusy(now)) ? 0 : pending_;
  pending_ = 0;
  return answer;
}

void SimulatedSensor::EndFrame(uint16_t frame) {
  const Nanoseconds now = Now();
  Update(now);
  pending_ = 0;
  if (asleep_ || IsBusy(now)) return;
  const uint8_t address = uint8_t((frame >> 8) & 0x7F);
  if (frame & 0x8000) {
    WriteByte(address, uint8_t(frame & 0xFF), now);
  } else {
    pending_ = ReadWord(address, now, true);
  }
}

void SimulatedSensor::DiscardFrame() {
  const Nanoseconds now = Now();
  Update(now);
  pending_ = 0;
  if (asleep_ || IsBusy(now)) return;
  latched_ |= status::SpiFrameError;
}

bool SimulatedSensor::AcceptsFastClock() {
  Update(Now());
  return Reg(regs_, addr::SMPL_PRD) <= kFastClockMaxSmplPrd;
}

// ---- reads ----

uint16_t SimulatedSensor::PeekRegister(uint8_t address) {
  const Nanoseconds now = Now();
  Update(now);
  return ReadWord(address, now, false);
}

uint16_t SimulatedSensor::ReadWord(uint8_t address, Nanoseconds now, bool sideEffects) {
  address &= 0x7E;
  if (address >= 2 * kRegisterWords) return 0;
  if (IsOutputAddress(address)) return OutputWord(ChannelOf(address), now, sideEffects);
  switch (address) {
    case addr::STATUS: {
      const uint16_t word = StatusWord(now);
      if (sideEffects) latched_ = 0;
      return word;
    }
    case addr::GPIO_CTRL:
      return uint16_t((Reg(regs_, addr::GPIO_CTRL) & 0x0003) | (LineLevelAt(0, now) ? 0x100 : 0) |
                      (LineLevelAt(1, now) ? 0x200 : 0));
    case addr::COMMAND:
    case addr::Reserved:
      return 0;
    default:
      return Reg(regs_, address);
  }
}

uint16_t SimulatedSensor::OutputWord(Channel c, Nanoseconds now, bool sideEffects) {
  const OutputFormats& formats = measurement_.Formats();
  if (formats.GyroXOnly() && (c == Channel::GyroY || c == Channel::GyroZ)) return 0;
  const int64_t k = samples_.Latest(now);
  if (k < 0) return 0;
  int64_t& last = lastRead_[size_t(c)];
  const bool newData = k > last;
  if (sideEffects) last = k;
  const int32_t code = measurement_.Code(c, k, samples_);
  uint16_t word = FieldBits(code, formats.Of(c).width);
  if (newData) word |= 0x8000;
  if (StatusWord(now) != 0) word |= 0x4000;
  return word;
}

uint16_t SimulatedSensor::AlarmBits(Nanoseconds now) {
  const int64_t k = samples_.Latest(now);
  AlarmRegisters r;
  r.mag = {Reg(regs_, addr::ALM_MAG1), Reg(regs_, addr::ALM_MAG2)};
  r.smpl = {Reg(regs_, addr::ALM_SMPL1), Reg(regs_, addr::ALM_SMPL2)};
  r.ctrl = Reg(regs_, addr::ALM_CTRL);
  if (AlarmSource(r.ctrl, 0) == 0 && AlarmSource(r.ctrl, 1) == 0) return 0;
  return AlarmStatusBits(r, k, measurement_, samples_);
}

uint16_t SimulatedSensor::StatusWord(Nanoseconds now) {
  uint16_t word = latched_;
  const double supply = measurement_.Settings().supplyVolts;
  if (supply < kSupplyLow) word |= status::SupplyLow;
  if (supply > kSupplyHigh) word |= status::SupplyHigh;
  return word | AlarmBits(now);
}

bool SimulatedSensor::LineLevel(int line) {
  const Nanoseconds now = Now();
  Update(now);
  return LineLevelAt(line, now);
}

bool SimulatedSensor::LineLevelAt(int line, Nanoseconds now) {
  if (line != 0 && line != 1) return false;
  const uint16_t almCtrl = Reg(regs_, addr::ALM_CTRL);
  if (almCtrl & 0x4) {
    const IndicatorDrive d = AlarmIndicator(almCtrl, AlarmBits(now) != 0);
    if (d.line == line) return d.level;
  }
  const uint16_t mscCtrl = Reg(regs_, addr::MSC_CTRL);
  if ((mscCtrl & msc::DataReadyEnable) && int(mscCtrl & msc::DataReadyLine) == line) {
    // Active for the first half of each sample period, inactive while asleep.
    const bool activeHigh = (mscCtrl & msc::DataReadyPolarity) != 0;
    const int64_t k = samples_.Latest(now);
    const bool active = !asleep_ && k >= 0 && now - samples_.TimeOf(k) < samples_.Period() / 2;
    return active ? activeHigh : !activeHigh;
  }
  const uint16_t gpio = Reg(regs_, addr::GPIO_CTRL);
  if (gpio & (1 << line)) return (gpio & (0x100 << line)) != 0;
  return inputLevel_[size_t(line)];
}

std::optional<Nanoseconds> SimulatedSensor::LineReaches(int line, bool level, Nanoseconds at) {
  if (line != 0 && line != 1) return std::nullopt;
  if (LineLevelAt(line, at) == level) return at;
  const uint16_t almCtrl = Reg(regs_, addr::ALM_CTRL);
  if ((almCtrl & 0x4) && AlarmIndicator(almCtrl, false).line == line) return std::nullopt;
  const uint16_t mscCtrl = Reg(regs_, addr::MSC_CTRL);
  if (!(mscCtrl & msc::DataReadyEnable) || int(mscCtrl & msc::DataReadyLine) != line) {
    return std::nullopt;
  }
  // Asleep the line rests inactive until sampling resumes.
  if (asleep_ || samples_.Paused()) return std::nullopt;
  const bool activeHigh = (mscCtrl & msc::DataReadyPolarity) != 0;
  const int64_t k = samples_.Latest(at);
  // Not at `level` now: inactive wanted means active now, until half a period after the update;
  // active wanted means the next update.
  if (level != activeHigh) return samples_.TimeOf(k) + samples_.Period() / 2;
  return samples_.TimeOf(k + 1);
}

// ---- writes ----

void SimulatedSensor::PokeRegister(uint8_t address, uint16_t word) {
  const Nanoseconds now = Now();
  Update(now);
  address &= 0x7E;
  WriteByte(uint8_t(address + 1), uint8_t(word >> 8), now);
  WriteByte(address, uint8_t(word & 0xFF), now);
}

void SimulatedSensor::WriteByte(uint8_t address, uint8_t value, Nanoseconds now) {
  address &= 0x7F;
  if (address >= 2 * kRegisterWords) return;
  const bool highByte = (address & 1) != 0;
  const uint8_t base = uint8_t(address & 0x7E);
  if (base == addr::COMMAND) {
    if (!highByte) StartCommands(value, now);
    return;
  }
  const RegisterInfo& info = kRegisterInfo[size_t(WordIndex(base))];
  if (!info.writable) return;
  if (base == addr::SLP_CNT && highByte) return;  // one-byte register
  uint16_t& reg = Reg(regs_, base);
  const uint16_t before = reg;
  const int shift = highByte ? 8 : 0;
  reg = uint16_t(((before & ~(0xFF << shift)) | (value << shift)) & info.definedBits);
  AfterWrite(base, before, reg, highByte, now);
}

void SimulatedSensor::SetGyroRange(int code) {
  rangeCode_ = code;
  measurement_.EditSettings().gyroScale = measurement_.Formats().GyroBaseScale() * code / 4.0;
}

void SimulatedSensor::AfterWrite(uint8_t address, uint16_t before, uint16_t after, bool highByte,
                                 Nanoseconds now) {
  switch (address) {
    case addr::SMPL_PRD:
      samples_.SetPeriod(now, SamplePeriod(after));
      measurement_.SamplesChanged();
      return;
    case addr::SENS_AVG:
      if (highByte) {
        const int code = (after >> 8) & 7;
        if (code == 1 || code == 2 || code == 4) {
          SetGyroRange(code);
        } else {
          latched_ |= status::ControlWriteFailed;  // the range in force stays
        }
      }
      measurement_.EditSettings().taps = int64_t{1} << (after & 7);
      return;
    case addr::SLP_CNT:
      if (after > 0) {
        asleep_ = true;
        sleepUntil_ = now + kSleepStep * after;
        samples_.Pause(now);
        pending_ = 0;
      }
      return;
    case addr::MSC_CTRL:
      measurement_.EditSettings().selfTest = (after & msc::SelfTest) != 0;
      if ((after & msc::AutoSelfTest) && !(before & msc::AutoSelfTest) && !selfTestRunning_) {
        selfTestRunning_ = true;
        selfTestUntil_ = now + kAutoSelfTestTime;
      } else if (selfTestRunning_) {
        // The bit reads 1 until the test is done, whatever is written meanwhile.
        Reg(regs_, addr::MSC_CTRL) |= msc::AutoSelfTest;
      }
      return;
    case addr::XGYRO_OFF:
    case addr::YGYRO_OFF:
    case addr::ZGYRO_OFF:
    case addr::XACCL_OFF:
    case addr::YACCL_OFF:
    case addr::ZACCL_OFF:
      ApplySettingsFromRegisters();
      return;
    default:
      return;  // stored; alarms, GPIO and AUX_DAC are read from the registers when needed
  }
}

// ---- commands ----

void SimulatedSensor::StartCommands(uint8_t bits, Nanoseconds now) {
  if (bits & ~cmd::kDefined) latched_ |= status::ControlWriteFailed;
  if (bits & cmd::DacLatch) {
    measurement_.EditSettings().dacVolts = Reg(regs_, addr::AUX_DAC) * kDacFullScale / 4095.0;
  }
  const uint8_t timed = bits & (cmd::AutoNull | cmd::FactoryRestore | cmd::FlashUpdate |
                                cmd::PrecisionAutoNull | cmd::SoftwareReset);
  if (timed == 0) return;
  if (IsBusy(now)) {
    latched_ |= status::ControlWriteFailed;  // only reachable by a direct poke
    return;
  }
  Nanoseconds busyFor{0};
  for (uint8_t b : {cmd::AutoNull, cmd::FactoryRestore, cmd::FlashUpdate, cmd::SoftwareReset}) {
    if (timed & b) busyFor += kCommandBusy;
  }
  if (timed & cmd::PrecisionAutoNull) busyFor += kPrecisionAutoNullBusy;
  busy_ = true;
  busyUntil_ = now + busyFor;
  pendingCommands_ = timed;
  pending_ = 0;
}

void SimulatedSensor::AutoNull(Nanoseconds window) {
  const double samples =
      std::max(1.0, double(window.count()) / double(samples_.Period().count()));
  const double quarterLsb = measurement_.Formats().GyroBaseScale() / 4.0;
  const std::array<uint8_t, 3> gyroOff = {addr::XGYRO_OFF, addr::YGYRO_OFF, addr::ZGYRO_OFF};
  ++nullRuns_;
  for (int axis = 0; axis < 3; ++axis) {
    const double bias = measurement_.GyroBiasEstimate(
        axis, samples * double(samples_.Period().count()) * 1e-9,
        double(clock_.Now().count()) * 1e-9, nullRuns_);
    const long code = std::clamp(std::lround(-bias / quarterLsb), -4096L, 4095L);
    Reg(regs_, gyroOff[size_t(axis)]) = FieldBits(int32_t(code), 13);
  }
  ApplySettingsFromRegisters();
}

void SimulatedSensor::CompleteCommands(uint8_t bits, Nanoseconds at) {
  if (bits & cmd::AutoNull) AutoNull(kAutoNullWindow);
  if (bits & cmd::FactoryRestore) {
    for (uint8_t a : {addr::XGYRO_OFF, addr::YGYRO_OFF, addr::ZGYRO_OFF, addr::XACCL_OFF,
                      addr::YACCL_OFF, addr::ZACCL_OFF}) {
      Reg(regs_, a) = 0;
    }
    ApplySettingsFromRegisters();
  }
  if (bits & cmd::FlashUpdate) {
    std::string error;
    if (flash_.Update(regs_, error)) {
      Reg(regs_, addr::ENDURANCE) = flash_.Endurance();
    } else {
      flashError_ = error;
      latched_ |= status::FlashUpdateFailed;
    }
  }
  if (bits & cmd::PrecisionAutoNull) AutoNull(kPrecisionAutoNullBusy);
  if (bits & cmd::SoftwareReset) LoadRegisters(at, false);
}

}  // namespace pemra::sim
