#include "analysis/NoiseTables.h"

#include <charconv>

#include "analysis/NoiseIdentification.h"

namespace pemra {

namespace {

constexpr const char* kEnd = "\r\n";

struct FigureColumn {
  const char* name;
  const NoiseFigure NoiseFigures::*figure;
  const FigureUnit FigureUnits::*unit;
};

// The minimum deviation is stated in the unit of B (a deviation of the rate).
constexpr FigureColumn kFigures[] = {
    {"N", &NoiseFigures::randomWalk, &FigureUnits::n},
    {"B", &NoiseFigures::biasInstability, &FigureUnits::b},
    {"K", &NoiseFigures::rateRandomWalk, &FigureUnits::k},
    {"Minimum", &NoiseFigures::minimum, &FigureUnits::b},
};

}  // namespace

std::string RoundTripText(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string FigureTableCsv(const std::vector<NoiseTableCurve>& curves) {
  std::string text = "Column";
  for (const FigureColumn& f : kFigures) {
    const std::string n = f.name;
    text += "," + n + "," + n + " unit," + n + " low," + n + " high," + n + " tau from (s)," + n +
            " tau to (s)," + n + " edf," + n + " noise," + n + " not determined";
  }
  text += ",Deviation,Log";
  text += kEnd;
  for (const NoiseTableCurve& c : curves) {
    if (!c.figures) continue;
    const FigureUnits units = UnitsFor(c.kind, c.unit);
    text += CsvField(c.column);
    for (const FigureColumn& f : kFigures) {
      const NoiseFigure& figure = (*c.figures).*f.figure;
      const FigureUnit& unit = units.*f.unit;
      if (!figure.determined) {
        text += ",," + CsvField(unit.name) + ",,,,,,," +
                CsvField(figure.reason.empty() ? std::string("not determined") : figure.reason);
        continue;
      }
      const bool interval = figure.edf > 0;
      text += "," + RoundTripText(figure.value * unit.factor) + "," + CsvField(unit.name) + "," +
              (interval ? RoundTripText(figure.low * unit.factor) : "") + "," +
              (interval ? RoundTripText(figure.high * unit.factor) : "") + "," +
              RoundTripText(figure.tauLow) + "," + RoundTripText(figure.tauHigh) + "," +
              (interval ? RoundTripText(figure.edf) : "") + "," +
              (interval ? std::string(NoiseText(figure.alpha)) : "") + ",";
    }
    text += "," + CsvField(DeviationName(c.type)) + "," + CsvField(c.log) + kEnd;
  }
  return text;
}

std::string DeviationPointsCsv(const std::vector<NoiseTableCurve>& curves) {
  std::string text =
      "Log,Column,Deviation,tau (s),m,deviation,low,high,unit,terms,alpha,noise,edf,identified by";
  text += kEnd;
  for (const NoiseTableCurve& c : curves) {
    if (!c.points) continue;
    const std::string prefix = CsvField(c.log) + "," + CsvField(c.column) + "," +
                               CsvField(DeviationName(c.type)) + ",";
    for (const AllanPoint& p : *c.points) {
      text += prefix + RoundTripText(p.tau) + "," + std::to_string(p.m) + "," +
              RoundTripText(p.deviation) + "," + RoundTripText(p.low) + "," +
              RoundTripText(p.high) + "," + CsvField(c.unit) + "," + std::to_string(p.terms) +
              "," + std::to_string(p.noise.alpha) + "," + std::string(NoiseText(p.noise.alpha)) +
              "," + RoundTripText(p.edf) + "," + std::string(NoiseIdMethodText(p.noise.method)) +
              kEnd;
    }
  }
  return text;
}

}  // namespace pemra
