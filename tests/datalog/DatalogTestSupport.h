#pragma once
// A logging run on the simulated rig with a test clock: the sensor shows its test pattern
// (each output holds the sample number) without noise, the time of day starts at a chosen
// second, and a scripted front end gives the settings and cancels where a test says.

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "core/DeviceModel.h"
#include "datalog/DatalogRun.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

namespace pemra::testing {

inline sim::RigOptions PatternRig(int16_t model = 21420) {
  sim::RigOptions options;
  options.model = model;
  options.noise = false;
  options.testPattern = true;
  return options;
}

class ScriptedFrontEnd final : public LogFrontEnd {
 public:
  const LogSettings& Settings() override { return settings; }
  void FileStarted(int64_t fileNumber) override { started.push_back(fileNumber); }
  bool SampleTaken(const LogProgress& progress) override {
    if (afterSample) afterSample(progress);
    return !(progress.fileNumber == cancelFile && progress.sample == cancelSample);
  }

  LogSettings settings;
  int64_t cancelFile = 0;
  int64_t cancelSample = 0;
  std::function<void(const LogProgress&)> afterSample;
  std::vector<int64_t> started;
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The files a directory holds, by name.
inline std::vector<std::string> FileNames(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct LogRig {
  explicit LogRig(int16_t model = 21420, double startSeconds = 36000.0)
      : rig(clock, PatternRig(model)),
        day(clock, startSeconds, "12/7/2026", "10:00:01") {
    dir = std::filesystem::temp_directory_path() /
          ("pemra-log-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    session.selection.InterfaceType = 2;
    session.adapters.FindAdapters();
    ChartRanges ranges;
    SetDevice(model, session.selection, session.access, ranges, messages);
  }
  ~LogRig() { std::filesystem::remove_all(dir); }

  LogResult Run(char decimalSeparator = '.') {
    DatalogContext context{session.access, clock, day, messages, dir, decimalSeparator,
                           [this] { return InterfaceUsable(session); }, nullptr, ""};
    return RunDatalog(context, frontEnd);
  }
  std::string File(const std::string& name) const { return ReadWholeFile(dir / name); }

  TestClock clock;
  sim::Rig rig;
  RecordingMessageSink messages;
  Session session{clock, messages, rig.Port(), rig.Usb()};
  ClockTimeOfDay day;
  ScriptedFrontEnd frontEnd;
  std::filesystem::path dir;
};

}  // namespace pemra::testing
