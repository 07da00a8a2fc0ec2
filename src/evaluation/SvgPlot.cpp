#include "evaluation/SvgPlot.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <limits>

namespace pemra {

namespace {

const char* const kColours[] = {"#d62728", "#2ca02c", "#1f4fb4", "#ff7f0e",
                                "#9467bd", "#8c564b", "#e377c2", "#17becf"};

constexpr double kLeft = 72, kRight = 16, kTop = 30, kBottom = 46;

struct Axis {
  bool log = false;
  double min = 0, max = 1;
  double from = 0, to = 1;  // pixels
  double Map(double v) const {
    const double a = log ? std::log10(v) : v;
    const double lo = log ? std::log10(min) : min;
    const double hi = log ? std::log10(max) : max;
    return from + (a - lo) / (hi - lo) * (to - from);
  }
  bool Valid(double v) const { return std::isfinite(v) && (!log || v > 0); }
  // Tick values: decades on a log axis, 1-2-5 steps on a linear one.
  std::vector<double> Ticks() const {
    std::vector<double> ticks;
    if (log) {
      for (double d = std::floor(std::log10(min)); d <= std::ceil(std::log10(max)); d += 1) {
        const double v = std::pow(10.0, d);
        if (v >= min * (1 - 1e-9) && v <= max * (1 + 1e-9)) ticks.push_back(v);
      }
      return ticks;
    }
    const double raw = (max - min) / 6;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double f : {1.0, 2.0, 5.0, 10.0})
      if (f * power >= raw) {
        step = f * power;
        break;
      }
    for (double v = std::ceil(min / step) * step; v <= max + step * 1e-9; v += step)
      ticks.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
    return ticks;
  }
};

void Extend(Axis& axis, const std::vector<double>& values, double& lo, double& hi) {
  for (double v : values)
    if (axis.Valid(v)) lo = std::min(lo, v), hi = std::max(hi, v);
}

void Settle(Axis& axis, double lo, double hi) {
  if (!(lo <= hi)) lo = axis.log ? 1 : 0, hi = axis.log ? 10 : 1;
  if (axis.log) {
    axis.min = std::pow(10.0, std::floor(std::log10(lo)));
    axis.max = std::pow(10.0, std::ceil(std::log10(hi)));
    if (axis.max <= axis.min) axis.max = axis.min * 10;
  } else {
    const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(std::abs(lo) * 0.05, 1e-9);
    axis.min = lo - pad;
    axis.max = hi + pad;
  }
}

std::string Num(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

}  // namespace

std::string XmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string ShortNumber(double value, int digits) {
  if (!std::isfinite(value)) return "not determined";
  char text[48];
  std::snprintf(text, sizeof text, "%.*g", digits, value);
  // %g takes the exponent form once the digits asked end before the decimal point (1000 at
  // three digits is "1e+03"): between 1e-4 and 1e6 the whole number is written instead.
  const double magnitude = std::fabs(value);
  if (std::strchr(text, 'e') != nullptr && magnitude >= 1e-4 && magnitude < 1e6)
    std::snprintf(text, sizeof text, "%.0f", value);
  return text;
}

std::string PlotSvg(const PlotFrame& frame, const std::vector<PlotSeries>& series) {
  Axis x{frame.logX}, y{frame.logY};
  double xlo = std::numeric_limits<double>::infinity(), xhi = -xlo, ylo = xlo, yhi = -xlo;
  for (const PlotSeries& s : series) {
    Extend(x, s.x, xlo, xhi);
    Extend(y, s.y, ylo, yhi);
    Extend(y, s.low, ylo, yhi);
    Extend(y, s.high, ylo, yhi);
  }
  Settle(x, xlo, xhi);
  Settle(y, ylo, yhi);
  const double w = frame.width, h = frame.height;
  x.from = kLeft, x.to = w - kRight;
  y.from = h - kBottom, y.to = kTop;

  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(w) + "\" height=\"" +
                    Num(h) + "\" viewBox=\"0 0 " + Num(w) + " " + Num(h) +
                    "\" font-family=\"sans-serif\" font-size=\"11\">\n";
  svg += "<rect x=\"0\" y=\"0\" width=\"" + Num(w) + "\" height=\"" + Num(h) + "\" fill=\"white\"/>\n";
  svg += "<text x=\"" + Num(w / 2) + "\" y=\"18\" text-anchor=\"middle\" font-size=\"13\">" +
         XmlEscaped(frame.title) + "</text>\n";
  // Grid and tick labels.
  for (double t : x.Ticks()) {
    const double px = x.Map(t);
    svg += "<line x1=\"" + Num(px) + "\" y1=\"" + Num(y.from) + "\" x2=\"" + Num(px) + "\" y2=\"" +
           Num(y.to) + "\" stroke=\"#dddddd\"/>\n";
    svg += "<text x=\"" + Num(px) + "\" y=\"" + Num(y.from + 14) + "\" text-anchor=\"middle\">" +
           ShortNumber(t, 3) + "</text>\n";
  }
  for (double t : y.Ticks()) {
    const double py = y.Map(t);
    svg += "<line x1=\"" + Num(x.from) + "\" y1=\"" + Num(py) + "\" x2=\"" + Num(x.to) + "\" y2=\"" +
           Num(py) + "\" stroke=\"#dddddd\"/>\n";
    svg += "<text x=\"" + Num(x.from - 4) + "\" y=\"" + Num(py + 4) + "\" text-anchor=\"end\">" +
           ShortNumber(t, 3) + "</text>\n";
  }
  svg += "<rect x=\"" + Num(x.from) + "\" y=\"" + Num(y.to) + "\" width=\"" + Num(x.to - x.from) +
         "\" height=\"" + Num(y.from - y.to) + "\" fill=\"none\" stroke=\"black\"/>\n";
  svg += "<text x=\"" + Num((x.from + x.to) / 2) + "\" y=\"" + Num(h - 8) +
         "\" text-anchor=\"middle\">" + XmlEscaped(frame.xLabel) + "</text>\n";
  svg += "<text transform=\"translate(14," + Num((y.from + y.to) / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">" + XmlEscaped(frame.yLabel) + "</text>\n";

  for (size_t i = 0; i < series.size(); ++i) {
    const PlotSeries& s = series[i];
    const std::string colour = kColours[i % std::size(kColours)];
    const std::string width = s.marked ? "2.5" : "1.2";
    const bool bounds = s.low.size() == s.x.size() && s.high.size() == s.x.size();
    if (bounds && s.band) {
      std::string points;
      for (size_t k = 0; k < s.x.size(); ++k)
        if (x.Valid(s.x[k]) && y.Valid(s.high[k]))
          points += Num(x.Map(s.x[k])) + "," + Num(y.Map(s.high[k])) + " ";
      for (size_t k = s.x.size(); k-- > 0;)
        if (x.Valid(s.x[k]) && y.Valid(s.low[k]))
          points += Num(x.Map(s.x[k])) + "," + Num(y.Map(s.low[k])) + " ";
      svg += "<polygon points=\"" + points + "\" fill=\"" + colour +
             "\" fill-opacity=\"0.35\" stroke=\"" + colour + "\" stroke-width=\"0.5\"/>\n";
    } else if (bounds) {
      for (size_t k = 0; k < s.x.size(); ++k) {
        if (!x.Valid(s.x[k]) || !y.Valid(s.low[k]) || !y.Valid(s.high[k])) continue;
        const double px = x.Map(s.x[k]);
        svg += "<line x1=\"" + Num(px) + "\" y1=\"" + Num(y.Map(s.low[k])) + "\" x2=\"" + Num(px) +
               "\" y2=\"" + Num(y.Map(s.high[k])) + "\" stroke=\"" + colour + "\"/>\n";
      }
    }
    std::string points;
    for (size_t k = 0; k < s.x.size() && k < s.y.size(); ++k)
      if (x.Valid(s.x[k]) && y.Valid(s.y[k]))
        points += Num(x.Map(s.x[k])) + "," + Num(y.Map(s.y[k])) + " ";
    if (!points.empty())
      svg += "<polyline points=\"" + points + "\" fill=\"none\" stroke=\"" + colour +
             "\" stroke-width=\"" + width + "\"/>\n";
  }
  // The legend, top right, last: on a white ground so no curve crosses its text.
  if (!series.empty())
    svg += "<rect x=\"" + Num(x.to - 124) + "\" y=\"" + Num(y.to + 3) + "\" width=\"120\" height=\"" +
           Num(14 * static_cast<double>(series.size()) + 4) +
           "\" fill=\"white\" fill-opacity=\"0.85\" stroke=\"#999999\"/>\n";
  for (size_t i = 0; i < series.size(); ++i) {
    const std::string colour = kColours[i % std::size(kColours)];
    const std::string width = series[i].marked ? "2.5" : "1.2";
    const double ly = y.to + 14 + 14 * static_cast<double>(i);
    svg += "<line x1=\"" + Num(x.to - 120) + "\" y1=\"" + Num(ly - 4) + "\" x2=\"" +
           Num(x.to - 100) + "\" y2=\"" + Num(ly - 4) + "\" stroke=\"" + colour +
           "\" stroke-width=\"" + width + "\"/>\n";
    svg += "<text x=\"" + Num(x.to - 96) + "\" y=\"" + Num(ly) + "\">" + XmlEscaped(series[i].label) +
           "</text>\n";
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace pemra
