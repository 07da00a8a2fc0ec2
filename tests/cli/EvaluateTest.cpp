// pemra-cli evaluate on the simulated sensor lying still, on the virtual clock: every output
// written, its figures those of `adev` on the same log, a failed limit giving exit 3 and
// "FAIL" in the JSON, the HTML and the PDF, usage errors exit 2, and a cancelled run still
// writing its report, marked incomplete.

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/LogCommand.h"
#include "evaluation/Evaluation.h"
#include "evaluation/FiguresJson.h"
#include "pdf/ReportPdf.h"
#include "support/ScratchDir.h"

namespace pemra::cli {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out, err;
};

Result RunCli(std::vector<std::string> args, const fs::path& dir) {
  std::istringstream in;
  std::ostringstream out, err;
  Environment env;
  env.decimalSeparator = '.';
  env.configPath = dir / "no-CommPort.cfg";
  const int status = cli::Run(args, in, out, err, env);
  return {status, out.str(), err.str()};
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Standard output of a shell command (the PDF and schema tools).
std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    ::pclose(pipe);
  }
  return text;
}

const std::vector<std::string> kStill = {"--simulate", "--sim-motion", "still", "--sim-clock", "virtual"};

std::vector<std::string> Evaluate(const fs::path& out, std::vector<std::string> more) {
  std::vector<std::string> args = kStill;
  args.insert(args.end(), {"evaluate", "--out", out.string()});
  if (std::find(more.begin(), more.end(), "--duration") == more.end()) more.insert(more.end(), {"--duration", "20"});
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

const nlohmann::json& Figure(const nlohmann::json& root, const std::string& axis, const std::string& key) {
  for (const auto& a : root["axes"])
    if (a["axis"] == axis)
      for (const auto& f : a["figures"])
        if (f["figure"] == key) return f;
  static const nlohmann::json none;
  ADD_FAILURE() << axis << " " << key << " not in figures.json";
  return none;
}

// Tags open and close in order (void elements excepted; SVG's own elements close with "/>").
bool WellFormed(const std::string& html, std::string& problem) {
  std::vector<std::string> open;
  const std::regex tag(R"(<(/?)([a-zA-Z][a-zA-Z0-9]*)[^>]*?(/?)>)");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), tag); it != std::sregex_iterator(); ++it) {
    const std::string name = (*it)[2];
    if ((*it)[3] == "/" || name == "meta" || name == "br" || name == "img") continue;
    if ((*it)[1] == "") {
      open.push_back(name);
    } else if (open.empty() || open.back() != name) {
      problem = "</" + name + "> closes " + (open.empty() ? "nothing" : "<" + open.back() + ">");
      return false;
    } else {
      open.pop_back();
    }
  }
  if (!open.empty()) problem = "<" + open.back() + "> is never closed";
  return open.empty();
}

TEST(EvaluateTest, WritesEveryOutputWithTheFiguresAdevGivesOnTheSameLog) {
  testing::ScratchDir dir;
  const fs::path out = dir.path() / "unit1";
  const Result r = RunCli(Evaluate(out, {}), dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"report.html", "report.pdf", "figures.json", "DATALOG_1.csv"})
    EXPECT_TRUE(fs::is_regular_file(out / name)) << name;
  // 20 s show no random walk of rate: the noise model would carry a guess, so it is not written.
  EXPECT_FALSE(fs::exists(out / "imu.yaml"));
  EXPECT_NE(r.err.find("imu.yaml not written: gyroscope_random_walk"), std::string::npos) << r.err;

  const nlohmann::json root = nlohmann::json::parse(ReadFile(out / "figures.json"));
  EXPECT_EQ(root["schema_version"], 1);
  EXPECT_EQ(root["complete"], true);
  EXPECT_EQ(root["verdict"], nullptr);  // no limits
  EXPECT_EQ(root["log"]["samples"], 16384);  // 20 s at 819.2 samples/s, rounded up
  EXPECT_EQ(root["log"]["missed"], 0);
  EXPECT_EQ(root["self_test"]["passed"], true);
  EXPECT_EQ(root["axes"].size(), 6u);
  // The white-noise density of the spectrum: the simulator's 1.258 deg/sqrt(h) is
  // 1.258 * sqrt(2) / 60 = 0.02965 deg/s/sqrt(Hz) (its filter takes a few percent off).
  const double density = Figure(root, "X Gryo", "density")["value"];
  EXPECT_NEAR(density, 0.02965, 0.0015);
  EXPECT_LT(Figure(root, "X Gryo", "density")["interval"]["low"].get<double>(), density);

  // adev on the same log prints the same N, B and K for every axis (to its seven digits), or
  // says too that a figure was not determined.
  const Result adev = RunCli({"adev", (out / "DATALOG_1.csv").string()}, dir.path());
  ASSERT_EQ(adev.status, 0) << adev.err;
  const char* axes[] = {"X Gryo", "Y Gyro", "Z Gyro", "X acc", "Y acc", "Z acc"};
  int compared = 0;
  for (const char* axis : axes) {
    const size_t at = adev.out.find(std::string("\n") + axis + "\n");
    ASSERT_NE(at, std::string::npos) << axis;
    for (const char* key : {"N", "B", "K"}) {
      const size_t line = adev.out.find(std::string("\n") + key + " ", at);
      ASSERT_NE(line, std::string::npos) << axis << " " << key;
      const std::string text = adev.out.substr(line + 30, adev.out.find('\n', line + 1) - line - 30);
      const nlohmann::json& figure = Figure(root, axis, key);
      if (figure["determined"] == true) {
        const double value = figure["value"];
        EXPECT_NEAR(value, std::stod(text), std::fabs(value) * 1e-6) << axis << " " << key << ": " << text;
        ++compared;
      } else {
        EXPECT_TRUE(text.starts_with("not determined")) << axis << " " << key << ": " << text;
      }
    }
  }
  EXPECT_GE(compared, 6);
  // and the gyros' N near the simulator's 1.258 deg/sqrt(h)
  for (const char* axis : {"X Gryo", "Y Gyro", "Z Gyro"})
    EXPECT_NEAR(Figure(root, axis, "N")["value"].get<double>(), 1.258, 0.1) << axis;

  const std::string html = ReadFile(out / "report.html");
  std::string problem;
  EXPECT_TRUE(WellFormed(html, problem)) << problem;
  size_t plots = 0;
  for (size_t at = html.find("<svg "); at != std::string::npos; at = html.find("<svg ", at + 1)) ++plots;
  EXPECT_EQ(plots, 4u);  // the still log and the Allan deviation, gyroscopes and accelerometers
  EXPECT_EQ(html.find("INCOMPLETE"), std::string::npos);

  const std::string info = Output("pdfinfo '" + (out / "report.pdf").string() + "' 2>&1");
  std::smatch pages;
  ASSERT_TRUE(std::regex_search(info, pages, std::regex(R"(Pages:\s+(\d+))"))) << info;
  EXPECT_GE(std::stoi(pages[1]), 3);

  const std::string valid = Output("python3 -c 'import json,sys,jsonschema; jsonschema.validate(json.load(open(sys.argv[1])), "
                                   "json.load(open(sys.argv[2]))); print(\"valid\")' '" +
                                   (out / "figures.json").string() + "' '" PEMRA_FIGURES_SCHEMA "' 2>&1");
  EXPECT_EQ(valid, "valid\n");
}

// Two minutes of the simulated sensor lying still: its figures against the noise it is set
// to (MotionProfile::AtRest). White noise 0.6 deg/s and 5 mg per sample at 819.2 samples/s:
// N = 0.6 / sqrt(819.2) * 60 = 1.2578 deg/sqrt(h) and 0.005 / sqrt(819.2) * 9.80665 * 60 =
// 0.10279 m/s/sqrt(h), 0.10387 with the accelerometers' 2.52 mg steps (their own white
// noise, q^2 / 12 per sample: 2.1% of the variance); bias instability 90 deg/h and 0.3 mg.
// The output's filter (4 taps) keeps the density but lowers the short taus N is read from.
// Two minutes hold N to about 1% (one realisation), B to some 10%, and show no random walk.
TEST(EvaluateTest, TwoStillMinutesGiveBackTheNoiseTheSimulatorIsSetTo) {
  testing::ScratchDir dir;
  const fs::path out = dir.path() / "unit";
  const Result r = RunCli(Evaluate(out, {"--duration", "120"}), dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json root = nlohmann::json::parse(ReadFile(out / "figures.json"));
  struct Case {
    const char* axis;
    double n, nTolerance;  // relative
    double b;
  } cases[] = {
      {"X Gryo", 1.2578, 0.02, 90}, {"Y Gyro", 1.2578, 0.02, 90}, {"Z Gyro", 1.2578, 0.02, 90},
      {"X acc", 0.10387, 0.03, 0.3}, {"Y acc", 0.10387, 0.03, 0.3}, {"Z acc", 0.10387, 0.03, 0.3},
  };
  int bDetermined = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.axis);
    const nlohmann::json& n = Figure(root, c.axis, "N");
    ASSERT_EQ(n["determined"], true) << n["reason"];
    EXPECT_NEAR(n["value"].get<double>() / c.n, 1, c.nTolerance);
    const nlohmann::json& b = Figure(root, c.axis, "B");
    if (b["determined"] == true) {
      ++bDetermined;
      EXPECT_NEAR(b["value"].get<double>() / c.b, 1, 0.2);
    }
  }
  EXPECT_GE(bDetermined, 4);
}

TEST(EvaluateTest, AFailedLimitExitsThreeWithFailBesideItInEveryOutput) {
  testing::ScratchDir dir;
  const fs::path out = dir.path() / "unit";
  const fs::path limits = dir.path() / "limits.json";
  // The simulated gyros' N is about 1.26 deg/sqrt(h); 0.01 deg/sqrt(s) is 0.6 deg/sqrt(h).
  std::ofstream(limits) << R"j({"gyro": {"N_max": "0.01 deg/sqrt(s)"}, "accel": {"N_max": "1 m/s/sqrt(h)"}})j";
  const Result r = RunCli(Evaluate(out, {"--limits", limits.string()}), dir.path());
  ASSERT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("pemra-cli: FAIL: X Gryo N angle random walk: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("against the limit 0.01 deg/sqrt(s)"), std::string::npos) << r.err;

  const nlohmann::json root = nlohmann::json::parse(ReadFile(out / "figures.json"));
  EXPECT_EQ(root["verdict"], "FAIL");
  const nlohmann::json& n = Figure(root, "Z Gyro", "N");
  EXPECT_EQ(n["verdict"], "FAIL");
  EXPECT_NEAR(n["limit"]["max"].get<double>(), 0.6, 1e-12);
  EXPECT_NEAR(n["margin"].get<double>(), 0.6 - n["value"].get<double>(), 1e-12);
  EXPECT_EQ(Figure(root, "Z acc", "N")["verdict"], "PASS");
  EXPECT_EQ(Figure(root, "Z acc", "B")["verdict"], nullptr);  // no limit on it

  const std::regex failRow(R"(<tr><td>N angle random walk</td><td>1\.[0-9]+ deg/sqrt\(h\)</td>.*FAIL)");
  EXPECT_TRUE(std::regex_search(ReadFile(out / "report.html"), failRow));
  const std::string text = Output("pdftotext -layout '" + (out / "report.pdf").string() + "' - 2>&1");
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(N angle +1\.[0-9]+ .* FAIL )")))
      << text.substr(0, 2000);
}

TEST(EvaluateTest, UsageErrorsExitTwoBeforeAnythingIsLogged) {
  testing::ScratchDir dir;
  std::ofstream(dir.path() / "typo.json") << R"j({"W Gyro": {"N_max": "1 deg/sqrt(h)"}})j";
  std::ofstream(dir.path() / "bare.json") << R"({"gyro": {"B_max": "120"}})";
  struct Case {
    std::vector<std::string> more;
    std::string error;
  } cases[] = {
      {{"--duration", "0"}, "pemra-cli: --duration: '0' is not a number of seconds above 0"},
      {{"--duration", "1h"}, "pemra-cli: --duration: '1h' is not a number of seconds above 0"},
      {{"--channels", "SUPPLY_OUT,XTEMP_OUT"}, "pemra-cli: --channels: name at least one gyro or accelerometer"},
      {{"--channels", "STATUS"}, "pemra-cli: 'STATUS' is not a channel"},
      {{"--limits", (dir.path() / "none.json").string()}, "pemra-cli: cannot read the limits file "},
      {{"--limits", (dir.path() / "typo.json").string()}, "\"w gyro\" names no axis that is logged"},
      {{"--limits", (dir.path() / "bare.json").string()}, "'120' has no unit"},
  };
  for (const Case& c : cases) {
    const fs::path out = dir.path() / "out";
    const Result r = RunCli(Evaluate(out, c.more), dir.path());
    EXPECT_EQ(r.status, 2) << c.more.back();
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out / "DATALOG_1.csv")) << c.more.back();
  }
}

// Cancels the run once the still log is a quarter done.
class CancelAtAQuarter final : public EvaluationObserver {
 public:
  explicit CancelAtAQuarter(std::atomic<bool>& cancel) : cancel_(cancel) {}
  void Progress(EvaluationStage stage, double fraction, double) override {
    if (stage == EvaluationStage::Log && fraction >= 0.25) cancel_ = true;
  }

 private:
  std::atomic<bool>& cancel_;
};

// Cancels the run when the first axis has been analysed.
class CancelAfterOneAxis final : public EvaluationObserver {
 public:
  explicit CancelAfterOneAxis(std::atomic<bool>& cancel) : cancel_(cancel) {}
  void Progress(EvaluationStage stage, double, double) override {
    if (stage == EvaluationStage::Analysis) cancel_ = true;
  }

 private:
  std::atomic<bool>& cancel_;
};

// 20 s of the simulated sensor lying still, evaluated into `dir` with `cancel` and `observer`.
EvaluationResult EvaluateCancelled(const fs::path& dir, std::atomic<bool>& cancel, EvaluationObserver& observer) {
  std::ostringstream err;
  Environment env;
  env.configPath = dir / "no-CommPort.cfg";
  Selection selection;
  selection.InterfaceType = kInterfaceUsb;
  selection.DeviceType = kPrimaryModel;
  Connection connection(selection, true, false, env, err);
  sim::SimSettings sim;
  EXPECT_FALSE(sim::ParseSimMotion("still", sim));
  EXPECT_FALSE(sim::ParseSimClock("virtual", sim));
  connection.SetSimSettings(sim);
  Session* session = nullptr;
  if (connection.Open(session) != 0) {
    ADD_FAILURE() << err.str();
    return {};
  }
  EvaluationSettings settings;
  settings.durationSeconds = 20;
  settings.outDir = dir;
  const EvaluationContext context{*session, connection.SessionClock(), *connection.VirtualTimeOfDay(), &cancel,
                                  RenderReportPdf, {}};
  return RunEvaluation(context, settings, observer);
}

TEST(EvaluateTest, ACancelledRunWritesTheReportOfWhatItHadMarkedIncomplete) {
  testing::ScratchDir dir;
  std::atomic<bool> cancel{false};
  CancelAtAQuarter observer(cancel);
  const EvaluationResult result = EvaluateCancelled(dir.path(), cancel, observer);

  EXPECT_EQ(result.end, EvaluationEnd::Cancelled);
  EXPECT_TRUE(result.report.incompleteReason.starts_with("cancelled during the still log after 4096 of 16384"))
      << result.report.incompleteReason;
  const nlohmann::json root = nlohmann::json::parse(ReadFile(dir.path() / "figures.json"));
  EXPECT_EQ(root["complete"], false);
  EXPECT_EQ(root["incomplete_reason"], result.report.incompleteReason);
  // What the log had is analysed and reported.
  EXPECT_EQ(root["log"]["samples"], 4096);
  EXPECT_EQ(root["axes"].size(), 6u);
  EXPECT_NE(ReadFile(dir.path() / "report.html").find("INCOMPLETE: cancelled during the still log"),
            std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "report.pdf"));
}

// The axes are analysed side by side and taken in column order; a cancel after the first
// stops the ones not begun, and the report holds those begun, in the log's column order (how
// many a second core took meanwhile depends on the machine: from one to all six).
TEST(EvaluateTest, ACancelDuringTheAnalysisReportsTheAxesBegunInOrder) {
  testing::ScratchDir dir;
  std::atomic<bool> cancel{false};
  CancelAfterOneAxis observer(cancel);
  const EvaluationResult result = EvaluateCancelled(dir.path(), cancel, observer);

  EXPECT_EQ(result.end, EvaluationEnd::Cancelled);
  EXPECT_EQ(result.report.incompleteReason, "cancelled during the analysis");
  const nlohmann::json root = nlohmann::json::parse(ReadFile(dir.path() / "figures.json"));
  EXPECT_EQ(root["complete"], false);
  EXPECT_EQ(root["log"]["samples"], 16384);
  const std::vector<std::string> order = {"X Gryo", "Y Gyro", "Z Gyro", "X acc", "Y acc", "Z acc"};
  ASSERT_GE(root["axes"].size(), 1u);
  ASSERT_LE(root["axes"].size(), order.size());
  for (size_t i = 0; i < root["axes"].size(); ++i) EXPECT_EQ(root["axes"][i]["axis"], order[i]);
  EXPECT_NE(ReadFile(dir.path() / "report.html").find("INCOMPLETE: cancelled during the analysis"), std::string::npos);
}

// Raises a signal the first time the time of day is read (the log's begin seconds).
class SignallingDay final : public TimeOfDay {
 public:
  explicit SignallingDay(int signal) : signal_(signal) {}
  float SecondsSinceMidnight() override {
    if (++reads_ == 1) std::raise(signal_);
    return 3600.0f;
  }
  std::string DateText() override { return "07.12.2026"; }
  std::string TimeText() override { return "01:00:00"; }

 private:
  int signal_;
  int reads_ = 0;
};

// Ctrl+C or SIGTERM while the still log runs: the log ends after the sample in hand, and the
// report of what was taken is still written, marked incomplete, with the signal's exit status.
TEST(EvaluateTest, ASignalEndsTheRunWithItsReportMarkedIncomplete) {
  for (const auto& [signal, status] : {std::pair{SIGINT, kExitInterrupted}, {SIGTERM, kExitTerminated}}) {
    SCOPED_TRACE(signal);
    testing::ScratchDir dir;
    SignallingDay day(signal);
    std::istringstream in;
    std::ostringstream out, err;
    Environment env;
    env.decimalSeparator = '.';
    env.configPath = dir.path() / "no-CommPort.cfg";
    env.timeOfDay = &day;
    const fs::path unit = dir.path() / "unit";
    EXPECT_EQ(cli::Run(Evaluate(unit, {}), in, out, err, env), status) << err.str();
    const nlohmann::json root = nlohmann::json::parse(ReadFile(unit / "figures.json"));
    EXPECT_EQ(root["complete"], false);
    EXPECT_LT(root["log"]["samples"].get<int>(), 16384);
    EXPECT_TRUE(root["incomplete_reason"].get<std::string>().starts_with("cancelled during the still log after "))
        << root["incomplete_reason"];
    EXPECT_NE(ReadFile(unit / "report.html").find("INCOMPLETE: cancelled during the still log"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(unit / "report.pdf"));
  }
}

// Three units' figures.json, the third's N far from the others': one table and plot.
TEST(EvaluateTest, CompareMarksTheOutlierAmongTheUnits) {
  testing::ScratchDir dir;
  const double n[] = {1.25, 1.27, 2.9};
  std::vector<std::string> args = {"evaluate", "--out", (dir.path() / "batch").string(), "--compare"};
  for (int i = 0; i < 3; ++i) {
    EvaluationReport r;
    r.complete = true;
    r.model = 21420;
    AxisReport axis;
    axis.title = "X Gryo";
    axis.dataUnit = "deg/s";
    FigureRecord f;
    f.key = "N";
    f.name = "angle random walk";
    f.unit = "deg/sqrt(h)";
    f.determined = true;
    f.value = n[i];
    axis.figures.push_back(f);
    axis.curve = {{0.01, 0.2, 0.19, 0.21}, {0.1, 0.07, 0.065, 0.075}};
    r.axes.push_back(axis);
    const fs::path unit = dir.path() / ("unit" + std::to_string(i + 1));
    fs::create_directories(unit);
    std::ofstream(unit / "figures.json") << FiguresJsonText(r);
    args.push_back(unit.string());
  }
  const Result r = RunCli(args, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string html = ReadFile(dir.path() / "batch" / "comparison.html");
  std::string problem;
  EXPECT_TRUE(WellFormed(html, problem)) << problem;
  EXPECT_NE(html.find("<td><b>OUTLIER</b> 2.9 deg/sqrt(h)</td>"), std::string::npos) << html;
  EXPECT_EQ(html.find("OUTLIER</b> 1.2"), std::string::npos);
  EXPECT_NE(html.find("<svg "), std::string::npos);

  // A folder without figures.json is named, and nothing is written.
  args.push_back((dir.path() / "empty").string());
  fs::remove(dir.path() / "batch" / "comparison.html");
  const Result missing = RunCli(args, dir.path());
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("/empty/figures.json"), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(dir.path() / "batch" / "comparison.html"));
}

}  // namespace
}  // namespace pemra::cli
