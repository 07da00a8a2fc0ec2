#pragma once
// The noise analysis as CSV files people load into a spreadsheet: every number in full
// precision (the shortest text that reads back as the same double, C locale) and never a
// word in a column of numbers.
// - The figures table: one line per column, for each figure (N, B, K, the minimum
//   deviation) its value, unit, 68% interval, the stretch of taus it was read from, the
//   degrees of freedom and the noise its interval assumed, and in a column of its own why
//   it was not determined (the numbers then empty).
// - The points: one line per averaging time of every curve, with its interval, terms, the
//   noise identified there (alpha and name) and the degrees of freedom.
// Lines end in CR LF; a field holding a comma, a quote or a line break is quoted.

#include <string>
#include <string_view>
#include <vector>

#include "analysis/AllanDeviation.h"
#include "analysis/NoiseFigures.h"

namespace pemra {

// "0.1", "2.5e-07", "1234567.891": the shortest text that reads back as `value`.
std::string RoundTripText(double value);
// `text` as one CSV field: as it is, or quoted with its quotes doubled.
std::string CsvField(std::string_view text);

// What the tables say about one curve.
struct NoiseTableCurve {
  std::string log;     // the file it came from
  std::string column;  // its title
  ColumnKind kind = ColumnKind::Other;
  std::string unit;  // of the data; "LSB" for raw register values
  AllanType type = AllanType::Overlapping;
  const std::vector<AllanPoint>* points = nullptr;
  const NoiseFigures* figures = nullptr;
};

// "Column,N,N unit,N low,N high,N tau from (s),N tau to (s),N edf,N noise,N not determined,
// B,..., K,..., Minimum,..., Deviation,Log" and one line per curve.
std::string FigureTableCsv(const std::vector<NoiseTableCurve>& curves);

// "Log,Column,Deviation,tau (s),m,deviation,low,high,unit,terms,alpha,noise,edf,identified by"
// and one line per point of every curve, the curves in turn.
std::string DeviationPointsCsv(const std::vector<NoiseTableCurve>& curves);

}  // namespace pemra
