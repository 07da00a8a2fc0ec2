#include "evaluation/Limits.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include <nlohmann/json.hpp>

#include "evaluation/EvaluationFigures.h"

namespace pemra {

namespace {

constexpr double kDegPerRad = 57.29577951308232;
constexpr double kGravity = 9.80665;  // m/s^2 per g

struct UnitFactor {
  const char* unit;
  double factor;  // one of `unit` in the target unit
};

struct UnitFamily {
  const char* target;
  std::vector<UnitFactor> units;
};

// What a data sheet may write for each figure unit, and how much one of it is. sqrt(Hz)
// counts as 1/sqrt(s) (a one-sided density of white noise equals N in unit*sqrt(s)).
const std::vector<UnitFamily>& Families() {
  static const std::vector<UnitFamily> families{
      {"deg/sqrt(h)",
       {{"deg/sqrt(h)", 1},
        {"deg/sqrt(s)", 60},
        {"deg/s/sqrt(Hz)", 60},
        {"deg/h/sqrt(Hz)", 1.0 / 60},
        {"rad/sqrt(h)", kDegPerRad},
        {"rad/sqrt(s)", 60 * kDegPerRad},
        {"rad/s/sqrt(Hz)", 60 * kDegPerRad}}},
      {"deg/h",
       {{"deg/h", 1}, {"deg/s", 3600}, {"rad/s", 3600 * kDegPerRad}, {"rad/h", kDegPerRad}}},
      {"deg/h/sqrt(h)",
       {{"deg/h/sqrt(h)", 1},
        {"deg/s/sqrt(h)", 3600},
        {"deg/s/sqrt(s)", 216000},
        {"deg/s^2/sqrt(Hz)", 216000},
        {"rad/s/sqrt(s)", 216000 * kDegPerRad},
        {"rad/s^2/sqrt(Hz)", 216000 * kDegPerRad}}},
      {"deg/s/sqrt(Hz)",
       {{"deg/s/sqrt(Hz)", 1},
        {"deg/h/sqrt(Hz)", 1.0 / 3600},
        {"mdeg/s/sqrt(Hz)", 1e-3},
        {"rad/s/sqrt(Hz)", kDegPerRad}}},
      {"m/s/sqrt(h)",
       {{"m/s/sqrt(h)", 1},
        {"m/s/sqrt(s)", 60},
        {"m/s^2/sqrt(Hz)", 60},
        {"g/sqrt(Hz)", 60 * kGravity},
        {"mg/sqrt(Hz)", 60e-3 * kGravity},
        {"ug/sqrt(Hz)", 60e-6 * kGravity},
        {"ft/s/sqrt(h)", 0.3048}}},
      {"mg", {{"mg", 1}, {"ug", 1e-3}, {"g", 1000}, {"m/s^2", 1000 / kGravity}}},
      {"m/s/h/sqrt(h)",
       {{"m/s/h/sqrt(h)", 1},
        {"m/s^2/sqrt(h)", 3600},
        {"m/s^2/sqrt(s)", 216000},
        {"m/s^3/sqrt(Hz)", 216000},
        {"mg/sqrt(h)", 3.6 * kGravity},
        {"ug/sqrt(h)", 3.6e-3 * kGravity},
        {"mg/sqrt(s)", 216 * kGravity}}},
      {"mg/sqrt(Hz)",
       {{"mg/sqrt(Hz)", 1},
        {"ug/sqrt(Hz)", 1e-3},
        {"g/sqrt(Hz)", 1000},
        {"m/s^2/sqrt(Hz)", 1000 / kGravity}}},
  };
  return families;
}

// One spelling for the ways a unit is written: no blanks, "°" as deg, "√x" and "rt(x)" as
// sqrt(x), "hr" as h, "sec" as s, "µ" as u, "dph" as deg/h.
std::string Normalised(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const std::string_view rest = text.substr(i);
    if (text[i] == ' ' || text[i] == '\t') continue;
    if (rest.starts_with("\xC2\xB0")) {  // degree sign
      out += "deg";
      ++i;
    } else if (rest.starts_with("\xC2\xB5") || rest.starts_with("\xCE\xBC")) {  // micro
      out += 'u';
      ++i;
    } else if (rest.starts_with("\xE2\x88\x9A")) {  // square root sign: takes one unit
      i += 3;
      std::string arg;
      while (i < text.size() && std::isalnum(static_cast<unsigned char>(text[i]))) arg += text[i++];
      --i;
      out += "sqrt(" + arg + ")";
    } else {
      out += text[i];
    }
  }
  const auto replaceAll = [&out](std::string_view from, std::string_view to) {
    for (size_t at = out.find(from); at != std::string::npos; at = out.find(from, at + to.size()))
      out.replace(at, from.size(), to);
  };
  replaceAll("sqrt(", "\x01");
  replaceAll("rt(", "\x01");
  replaceAll("\x01", "sqrt(");
  replaceAll("hr", "h");
  replaceAll("sec", "s");
  replaceAll("(hz)", "(Hz)");
  replaceAll("(HZ)", "(Hz)");
  if (out == "dph") out = "deg/h";
  return out;
}

const std::map<std::string, std::string>& KeyOfLimit() {
  static const std::map<std::string, std::string> keys{{"N_max", "N"},
                                                       {"B_max", "B"},
                                                       {"K_max", "K"},
                                                       {"minimum_max", "minimum"},
                                                       {"density_max", "density"}};
  return keys;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The section an axis kind's limits are under.
const char* KindSection(AxisKind kind) { return kind == AxisKind::Gyro ? "gyro" : "accel"; }

bool NamesAxis(const std::string& section, const AxisReport& axis) {
  const std::string title = Lower(axis.title);
  return section == title || section == Lower(axis.register_) ||
         // the log files spell the X gyro's title "X Gryo"
         (title == "x gryo" && section == "x gyro");
}

}  // namespace

std::optional<std::string> ConvertQuantity(std::string_view text, const std::string& unit,
                                           double& value) {
  const std::string quoted = "'" + std::string(text) + "'";
  size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  double number = 0;
  const auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), number);
  if (error != std::errc{} || !std::isfinite(number))
    return quoted + " does not start with a number";
  if (!(number > 0)) return quoted + ": a maximum must be above 0";
  const std::string written = Normalised(std::string_view(end, text.data() + text.size()));
  const auto family = std::find_if(Families().begin(), Families().end(),
                                   [&unit](const UnitFamily& f) { return unit == f.target; });
  if (family == Families().end()) return "no unit is known for this figure";
  std::string known;
  for (const UnitFactor& u : family->units) {
    if (written == Normalised(u.unit)) {
      value = number * u.factor;
      return std::nullopt;
    }
    known += std::string(known.empty() ? "" : ", ") + u.unit;
  }
  if (written.empty()) return quoted + " has no unit: write it with the value (" + known + ")";
  return quoted + ": the unit is not one of " + known;
}

std::optional<std::string> ParseLimits(std::string_view json, Limits& limits) {
  nlohmann::json root;
  try {
    root = nlohmann::json::parse(json.begin(), json.end());
  } catch (const nlohmann::json::parse_error& e) {
    return std::string("not JSON: ") + e.what();
  }
  if (!root.is_object()) return "the file must hold one JSON object of sections";
  limits.sections.clear();
  for (const auto& [name, section] : root.items()) {
    std::string key = Lower(name);
    if (key == "accelerometer") key = "accel";
    if (!section.is_object())
      return "\"" + name + "\": a section must be an object of limits (\"N_max\": \"1.5 deg/sqrt(h)\")";
    auto& out = limits.sections[key];
    for (const auto& [limitName, value] : section.items()) {
      const auto figure = KeyOfLimit().find(limitName);
      if (figure == KeyOfLimit().end())
        return "\"" + name + "\": \"" + limitName +
               "\" is not a limit (N_max, B_max, K_max, minimum_max, density_max)";
      if (!value.is_string())
        return "\"" + name + "\": \"" + limitName +
               "\": give the value with its unit as text (\"1.5 deg/sqrt(h)\")";
      LimitValue limit;
      limit.text = value.get<std::string>();
      // Units are checked now for the axis kinds, on use for single axes (whose kind only
      // the log tells).
      if (key == "gyro" || key == "accel") {
        const AxisKind kind = key == "gyro" ? AxisKind::Gyro : AxisKind::Accel;
        if (auto error = ConvertQuantity(limit.text, FigureUnitFor(kind, figure->second), limit.value))
          return "\"" + name + "\": \"" + limitName + "\": " + *error;
      }
      out[figure->second] = limit;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ApplyLimits(const Limits& limits, AxisReport& axis) {
  std::map<std::string, std::pair<std::string, LimitValue>> chosen;  // key -> section, limit
  for (const auto& [section, values] : limits.sections) {
    const bool kind = section == KindSection(axis.kind);
    if (!kind && !NamesAxis(section, axis)) continue;
    for (const auto& [key, limit] : values)
      if (!kind || !chosen.contains(key)) chosen[key] = {section, limit};
  }
  for (FigureRecord& figure : axis.figures) {
    const auto it = chosen.find(figure.key);
    if (it == chosen.end()) continue;
    const auto& [section, limit] = it->second;
    double value = 0;
    if (auto error = ConvertQuantity(limit.text, figure.unit, value))
      return "\"" + section + "\": " + figure.key + ": " + *error;
    figure.hasLimit = true;
    figure.limit = value;
    figure.limitText = limit.text;
    if (!figure.determined) {
      figure.verdict = Verdict::Fail;
      figure.verdictNote = "not determined (" + figure.reason + "): the limit cannot be shown to be met";
      continue;
    }
    figure.margin = value - figure.value;
    figure.verdict = figure.value <= value ? Verdict::Pass : Verdict::Fail;
  }
  return std::nullopt;
}

std::vector<std::string> UnusedLimitSections(const Limits& limits,
                                             const std::vector<AxisReport>& axes) {
  std::vector<std::string> unused;
  for (const auto& entry : limits.sections) {
    const std::string& section = entry.first;
    if (section == "gyro" || section == "accel") continue;
    if (std::none_of(axes.begin(), axes.end(),
                     [&section](const AxisReport& a) { return NamesAxis(section, a); }))
      unused.push_back(section);
  }
  return unused;
}

}  // namespace pemra
