#pragma once
// Small self-contained SVG plots for the reports: lines with optional 68% interval bars on
// logarithmic or linear axes, with grid, tick labels, axis titles and a legend. The text
// is a complete <svg> element that an HTML page can hold inline or a renderer can draw.

#include <string>
#include <vector>

namespace pemra {

struct PlotSeries {
  std::string label;
  std::vector<double> x;
  std::vector<double> y;
  // Interval bars (Allan curves) or the band's lower edge (a time series envelope drawn
  // from `low` to `high`); empty: none.
  std::vector<double> low;
  std::vector<double> high;
  bool band = false;  // low/high are an envelope, not bars
  bool marked = false;  // drawn thick (an outlier)
};

struct PlotFrame {
  std::string title;
  std::string xLabel;
  std::string yLabel;
  bool logX = false;
  bool logY = false;
  int width = 640;
  int height = 360;
};

std::string PlotSvg(const PlotFrame& frame, const std::vector<PlotSeries>& series);

// Text made safe inside XML and HTML: & < > " escaped.
std::string XmlEscaped(const std::string& text);

// A number for people: `digits` significant digits, C locale, no exponent between 1e-4
// and 1e6 ("1.258", "0.0003412", "2.5e-07").
std::string ShortNumber(double value, int digits = 4);

}  // namespace pemra
