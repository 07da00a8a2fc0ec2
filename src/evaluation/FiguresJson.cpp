#include "evaluation/FiguresJson.h"

#include <cmath>

#include <nlohmann/json.hpp>

namespace pemra {

namespace {

using nlohmann::json;

// A number, or null when it is not finite (JSON has no NaN).
json Number(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

json VerdictJson(Verdict verdict) {
  return verdict == Verdict::None ? json(nullptr) : json(VerdictText(verdict));
}

json FigureJson(const FigureRecord& f) {
  json j;
  j["figure"] = f.key;
  j["name"] = f.name;
  j["unit"] = f.unit;
  j["determined"] = f.determined;
  j["value"] = f.determined ? Number(f.value) : json(nullptr);
  j["reason"] = f.determined ? json(nullptr) : json(f.reason);
  j["interval"] = f.hasInterval ? json{{"low", Number(f.low)}, {"high", Number(f.high)}, {"level", 0.68}}
                                : json(nullptr);
  j["interval_note"] = f.intervalNote;
  j["tau_s"] = f.hasTaus ? json{{"low", Number(f.tauLow)}, {"high", Number(f.tauHigh)}} : json(nullptr);
  j["limit"] = f.hasLimit ? json{{"max", Number(f.limit)}, {"as_written", f.limitText}} : json(nullptr);
  j["verdict"] = VerdictJson(f.verdict);
  j["margin"] = f.hasLimit && f.determined ? Number(f.margin) : json(nullptr);
  if (!f.verdictNote.empty()) j["verdict_note"] = f.verdictNote;
  return j;
}

std::string Hex4(uint16_t word) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", word);
  return text;
}

// Reads a figure back; fields that are null stay as in a fresh record.
FigureRecord FigureFrom(const json& j) {
  FigureRecord f;
  f.key = j.value("figure", "");
  f.name = j.value("name", "");
  f.unit = j.value("unit", "");
  f.determined = j.value("determined", false) && j["value"].is_number();
  if (f.determined) f.value = j["value"].get<double>();
  if (j.contains("reason") && j["reason"].is_string()) f.reason = j["reason"].get<std::string>();
  if (j.contains("interval") && j["interval"].is_object() && j["interval"]["low"].is_number() &&
      j["interval"]["high"].is_number()) {
    f.hasInterval = true;
    f.low = j["interval"]["low"].get<double>();
    f.high = j["interval"]["high"].get<double>();
  }
  f.intervalNote = j.value("interval_note", "");
  if (j.contains("tau_s") && j["tau_s"].is_object() && j["tau_s"]["low"].is_number()) {
    f.hasTaus = true;
    f.tauLow = j["tau_s"]["low"].get<double>();
    f.tauHigh = j["tau_s"]["high"].get<double>();
  }
  if (j.contains("limit") && j["limit"].is_object() && j["limit"]["max"].is_number()) {
    f.hasLimit = true;
    f.limit = j["limit"]["max"].get<double>();
    f.limitText = j["limit"].value("as_written", "");
  }
  if (j.contains("verdict") && j["verdict"].is_string())
    f.verdict = j["verdict"] == "FAIL" ? Verdict::Fail : Verdict::Pass;
  if (j.contains("margin") && j["margin"].is_number()) f.margin = j["margin"].get<double>();
  return f;
}

}  // namespace

std::string FiguresJsonText(const EvaluationReport& r) {
  json root;
  root["schema_version"] = kFiguresSchemaVersion;
  root["complete"] = r.complete;
  root["incomplete_reason"] = r.complete ? json(nullptr) : json(r.incompleteReason);
  root["verdict"] = VerdictJson(r.Overall());
  root["made_by"] = {{"program", r.program}, {"version", r.version}, {"command", r.command}};
  root["started"] = r.started;
  root["finished"] = r.finished;
  json stages = json::array();
  for (EvaluationStage s : r.stagesDone) stages.push_back(StageText(s));
  root["stages_done"] = stages;

  json registers = json::array();
  for (const RegisterWord& w : r.registers)
    registers.push_back({{"name", w.name},
                         {"address", w.address},
                         {"word", w.readable ? json(Hex4(w.word)) : json(nullptr)},
                         {"value", w.value},
                         {"fields", w.fields}});
  root["device"] = {{"model", r.model},
                    {"interface", r.interface},
                    {"adapter", r.adapter},
                    {"registers", registers}};
  root["self_test"] = r.selfTestRun ? json{{"status_before", Hex4(r.statusBefore)},
                                           {"status_after", Hex4(r.statusAfter)},
                                           {"passed", r.selfTestPassed},
                                           {"verdict", r.selfTestPassed ? "PASS" : "FAIL"},
                                           {"note", r.selfTestNote}}
                                    : json(nullptr);
  json channels = json::array();
  for (const ChannelStatistics& c : r.channels)
    channels.push_back({{"channel", c.title},
                        {"unit", c.unit},
                        {"samples", c.samples},
                        {"mean", Number(c.mean)},
                        {"spread", Number(c.spread)},
                        {"min", Number(c.min)},
                        {"max", Number(c.max)}});
  root["supply_and_temperatures"] = channels;
  root["log"] = {{"files", r.logFiles},
                 {"duration_asked_s", Number(r.durationAsked)},
                 {"samples", r.samples},
                 {"rate_sps", Number(r.rate)},
                 {"rate_source", r.rateSource},
                 {"duration_s", Number(r.logSeconds)},
                 {"missed", r.missed},
                 {"duplicates", r.duplicates},
                 {"torn_rows", r.tornRows}};
  json axes = json::array();
  for (const AxisReport& a : r.axes) {
    json figures = json::array();
    for (const FigureRecord& f : a.figures) figures.push_back(FigureJson(f));
    json curve = json::array();
    for (const CurvePoint& p : a.curve)
      curve.push_back({{"tau_s", Number(p.tau)},
                       {"deviation", Number(p.deviation)},
                       {"low", Number(p.low)},
                       {"high", Number(p.high)}});
    axes.push_back({{"axis", a.title},
                    {"register", a.register_},
                    {"kind", a.kind == AxisKind::Gyro ? "gyro" : "accel"},
                    {"data_unit", a.dataUnit},
                    {"samples", a.samples},
                    {"mean", Number(a.mean)},
                    {"warnings", a.warnings},
                    {"figures", figures},
                    {"allan_deviation", {{"note", a.curveNote}, {"points", curve}}}});
  }
  root["axes"] = axes;
  root["limits_file"] = r.limitsFile.empty() ? json(nullptr) : json(r.limitsFile);
  root["warnings"] = r.warnings;
  return root.dump(2) + "\n";
}

std::optional<std::string> ReadFiguresJson(const std::string& text, EvaluationReport& r) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::parse_error& e) {
    return std::string("not JSON: ") + e.what();
  }
  try {
    if (!root.is_object() || !root.contains("schema_version"))
      return "no schema_version: not a figures.json of this program";
    if (root["schema_version"].get<int>() != kFiguresSchemaVersion)
      return "schema version " + root["schema_version"].dump() + " is not " +
             std::to_string(kFiguresSchemaVersion);
    r.complete = root.value("complete", false);
    if (root["incomplete_reason"].is_string()) r.incompleteReason = root["incomplete_reason"];
    r.started = root.value("started", "");
    r.model = root["device"].value("model", 0);
    r.adapter = root["device"].value("adapter", "");
    r.interface = root["device"].value("interface", "");
    r.samples = root["log"].value("samples", int64_t{0});
    if (root["log"]["rate_sps"].is_number()) r.rate = root["log"]["rate_sps"];
    if (root["log"]["duration_s"].is_number()) r.logSeconds = root["log"]["duration_s"];
    if (root["self_test"].is_object()) {
      r.selfTestRun = true;
      r.selfTestPassed = root["self_test"].value("passed", false);
    }
    for (const json& a : root["axes"]) {
      AxisReport axis;
      axis.title = a.value("axis", "");
      axis.register_ = a.value("register", "");
      axis.kind = a.value("kind", "") == "accel" ? AxisKind::Accel : AxisKind::Gyro;
      axis.dataUnit = a.value("data_unit", "");
      axis.samples = a.value("samples", int64_t{0});
      for (const json& f : a["figures"]) axis.figures.push_back(FigureFrom(f));
      for (const json& p : a["allan_deviation"]["points"])
        if (p["tau_s"].is_number() && p["deviation"].is_number())
          axis.curve.push_back({p["tau_s"].get<double>(), p["deviation"].get<double>(),
                                p["low"].is_number() ? p["low"].get<double>() : 0.0,
                                p["high"].is_number() ? p["high"].get<double>() : 0.0});
      r.axes.push_back(std::move(axis));
    }
  } catch (const json::exception& e) {
    return std::string("not as figures.json is laid out: ") + e.what();
  }
  return std::nullopt;
}

}  // namespace pemra
