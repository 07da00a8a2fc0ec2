#include "evaluation/ReportHtml.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "evaluation/SvgPlot.h"

namespace pemra {

namespace {

constexpr int kPlotWidth = 640;
constexpr int kPlotHeight = 360;

std::string Esc(const std::string& text) { return XmlEscaped(text); }

std::string Hex4(uint16_t word) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", word);
  return text;
}

std::string Row(const std::vector<std::string>& cells, const char* tag = "td") {
  std::string row = "<tr>";
  for (const std::string& c : cells) row += std::string("<") + tag + ">" + c + "</" + tag + ">";
  return row + "</tr>\n";
}

std::string VerdictCell(Verdict verdict) {
  if (verdict == Verdict::Fail) return "<b class=\"fail\">FAIL</b>";
  if (verdict == Verdict::Pass) return "<span class=\"pass\">PASS</span>";
  return "no limit";
}

std::string TausText(const FigureRecord& f) {
  if (!f.hasTaus) return "";
  if (f.tauLow == f.tauHigh) return ShortNumber(f.tauLow) + " s";
  return ShortNumber(f.tauLow) + " to " + ShortNumber(f.tauHigh) + " s";
}

std::string MarginText(const FigureRecord& f) {
  if (!f.hasLimit) return "";
  if (!f.determined) return Esc(f.verdictNote);
  return ShortNumber(f.margin) + " " + Esc(f.unit) + " (" + ShortNumber(100.0 * f.margin / f.limit, 3) + "%)";
}

std::string AxisLabel(const AxisReport& a) { return a.title + (a.register_.empty() ? "" : " (" + a.register_ + ")"); }

// One plot per axis kind, its axes overlaid, each axis's line made by `line` (false: the axis
// has nothing to draw).
std::string PlotsPerKind(const EvaluationReport& r, const HtmlPlots& plots, const char* (&titles)[2],
                         const std::string& xLabel, const std::string& yLabel, bool log,
                         const std::function<bool(const AxisReport&, PlotSeries&)>& line) {
  std::string html;
  for (AxisKind kind : {AxisKind::Gyro, AxisKind::Accel}) {
    std::vector<PlotSeries> series;
    std::string unit;
    for (const AxisReport& a : r.axes) {
      PlotSeries s;
      s.label = a.title;
      if (a.kind != kind || !line(a, s)) continue;
      unit = a.dataUnit;
      series.push_back(std::move(s));
    }
    if (series.empty()) continue;
    const PlotFrame frame{titles[kind == AxisKind::Gyro ? 0 : 1], xLabel, yLabel + " (" + unit + ")", log, log,
                        kPlotWidth, kPlotHeight};
    html += PlotHtml(PlotSvg(frame, series), kPlotWidth, kPlotHeight, plots);
  }
  return html;
}

// The Allan deviation curves with their interval bars.
std::string AllanPlots(const EvaluationReport& r, const HtmlPlots& plots) {
  static const char* titles[2] = {"Allan deviation, gyroscopes", "Allan deviation, accelerometers"};
  return PlotsPerKind(r, plots, titles, "tau (s)", "deviation", true, [](const AxisReport& a, PlotSeries& s) {
    for (const CurvePoint& p : a.curve) {
      s.x.push_back(p.tau);
      s.y.push_back(p.deviation);
      s.low.push_back(p.low);
      s.high.push_back(p.high);
    }
    return !a.curve.empty();
  });
}

// The still log against time: each axis's smallest and largest value per time bucket, about
// its mean, so the noise of every axis shows whatever its level.
std::string SeriesPlots(const EvaluationReport& r, const HtmlPlots& plots) {
  static const char* titles[2] = {"Still log, gyroscopes", "Still log, accelerometers"};
  return PlotsPerKind(r, plots, titles, "time (s)", "less its mean", false, [](const AxisReport& a, PlotSeries& s) {
    s.band = true;
    s.x = a.series.seconds;
    for (size_t k = 0; k < s.x.size(); ++k) {
      s.low.push_back(a.series.min[k] - a.mean);
      s.high.push_back(a.series.max[k] - a.mean);
      s.y.push_back((s.low.back() + s.high.back()) / 2);
    }
    return !s.x.empty();
  });
}

}  // namespace

std::string HtmlHead(const std::string& title) {
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + Esc(title) +
         "</title>\n<style>\n"
         "body { font-family: sans-serif; font-size: 10pt; margin: 1.5em; }\n"
         "table { border-collapse: collapse; margin: 0.5em 0; }\n"
         "th, td { border: 1px solid #999999; padding: 2px 6px; text-align: left; }\n"
         "th { background: #eeeeee; }\n"
         ".fail { color: #c00000; font-weight: bold; }\n"
         ".pass { color: #007000; }\n"
         ".incomplete { color: #c00000; font-weight: bold; font-size: 12pt; }\n"
         ".warning { color: #a05000; }\n"
         "pre { font-size: 8pt; }\n"
         "</style>\n</head>\n<body>\n";
}

std::string PlotHtml(const std::string& svg, int width, int height, const HtmlPlots& plots) {
  if (plots.images == nullptr) return "<div class=\"plot\">\n" + svg + "</div>\n";
  const std::string name = "plot-" + std::to_string(plots.images->size());
  plots.images->push_back(svg);
  const int shown = std::min(width, plots.printedWidth);
  return "<p><img src=\"" + name + "\" width=\"" + std::to_string(shown) + "\" height=\"" +
         std::to_string(height * shown / width) + "\" alt=\"" + name + "\"></p>\n";
}

std::string FigureLabel(const FigureRecord& f) {
  return f.key.size() == 1 ? f.key + " " + f.name : f.name;
}

std::string FigureValueText(const FigureRecord& f) {
  if (!f.determined) return "not determined (" + Esc(f.reason) + ")";
  return ShortNumber(f.value) + " " + Esc(f.unit);
}

std::string FigureIntervalText(const FigureRecord& f) {
  if (!f.determined) return "";
  if (!f.hasInterval) return "not determined" + (f.intervalNote.empty() ? "" : ": " + Esc(f.intervalNote));
  return "[" + ShortNumber(f.low) + ", " + ShortNumber(f.high) + "] " + Esc(f.unit);
}

std::string ReportHtml(const EvaluationReport& r, const HtmlPlots& plots) {
  std::string h = HtmlHead("Sensor evaluation, model " + std::to_string(r.model) + ", " + r.started);
  h += "<h1>Sensor evaluation report</h1>\n";
  if (!r.complete)
    h += "<p class=\"incomplete\">INCOMPLETE: " + Esc(r.incompleteReason) +
         ". This report holds what the run had by then.</p>\n";
  const Verdict overall = r.Overall();
  h += "<table>\n";
  h += Row({"Verdict", overall == Verdict::None ? "no limits checked" : VerdictCell(overall)});
  h += Row({"Model", std::to_string(r.model)});
  h += Row({"Interface", Esc(r.interface)});
  h += Row({"Adapter", Esc(r.adapter)});
  h += Row({"Started (UTC)", Esc(r.started)});
  h += Row({"Finished (UTC)", Esc(r.finished)});
  h += Row({"Still log", ShortNumber(r.logSeconds, 6) + " s of " + ShortNumber(r.durationAsked, 6) + " s asked"});
  h += Row({"Limits", r.limitsFile.empty() ? "none" : Esc(r.limitsFile)});
  h += "</table>\n";
  for (const std::string& w : r.warnings) h += "<p class=\"warning\">Warning: " + Esc(w) + "</p>\n";

  h += "<h2>1. Identify</h2>\n<table>\n" + Row({"Register", "Address", "Word", "Value", "Fields"}, "th");
  for (const RegisterWord& w : r.registers)
    h += Row({Esc(w.name), Hex4(static_cast<uint16_t>(w.address)), w.readable ? Hex4(w.word) : "----",
              w.readable ? Esc(w.value) : "----", Esc(w.fields)});
  h += "</table>\n";

  h += "<h2>2. Self-test</h2>\n";
  if (r.selfTestRun) {
    h += "<table>\n" + Row({"STATUS before", Hex4(r.statusBefore)}) + Row({"STATUS after", Hex4(r.statusAfter)}) +
         Row({"Automatic self-test", r.selfTestPassed ? VerdictCell(Verdict::Pass) : VerdictCell(Verdict::Fail)}) +
         "</table>\n";
    if (!r.selfTestNote.empty()) h += "<p>" + Esc(r.selfTestNote) + "</p>\n";
  } else {
    h += "<p>Not run.</p>\n";
  }

  h += "<h2>3. Supply and temperatures</h2>\n";
  if (r.channels.empty()) h += "<p>No supply or temperature channel was logged.</p>\n";
  else {
    h += "<table>\n" + Row({"Channel", "Mean", "Spread (1 sigma)", "Minimum", "Maximum", "Samples"}, "th");
    for (const ChannelStatistics& c : r.channels) {
      const std::string u = " " + Esc(c.unit);
      h += Row({Esc(c.title), ShortNumber(c.mean, 6) + u, ShortNumber(c.spread) + u, ShortNumber(c.min, 6) + u,
                ShortNumber(c.max, 6) + u, std::to_string(c.samples)});
    }
    h += "</table>\n";
  }

  h += "<h2>4. Still log</h2>\n<table>\n";
  std::string files;
  for (const std::string& f : r.logFiles) files += (files.empty() ? "" : ", ") + Esc(f);
  h += Row({"Files", files.empty() ? "none" : files});
  h += Row({"Samples", std::to_string(r.samples)});
  h += Row({"Rate", ShortNumber(r.rate, 7) + " samples/s (from the " + Esc(r.rateSource) + ")"});
  h += Row({"Duration", ShortNumber(r.logSeconds, 6) + " s"});
  h += Row({"Samples missed", std::to_string(r.missed)});
  h += Row({"Duplicate bursts discarded", std::to_string(r.duplicates)});
  h += Row({"Torn rows (not every channel new)", std::to_string(r.tornRows)});
  h += "</table>\n";
  h += SeriesPlots(r, plots);

  h += "<h2>5. Analysis</h2>\n";
  h += AllanPlots(r, plots);
  for (const AxisReport& a : r.axes) {
    h += "<h3>" + Esc(AxisLabel(a)) + "</h3>\n";
    h += "<p>" + std::to_string(a.samples) + " samples, mean " + ShortNumber(a.mean, 6) + " " + Esc(a.dataUnit) +
         "; " + Esc(a.curveNote) + ".</p>\n";
    for (const std::string& w : a.warnings) h += "<p class=\"warning\">Warning: " + Esc(w) + "</p>\n";
    h += "<table width=\"100%\">\n" +
         Row({"Figure", "Value", "68% interval", "Averaging times", "Limit", "Verdict", "Margin"}, "th");
    for (const FigureRecord& f : a.figures)
      h += Row({Esc(FigureLabel(f)), FigureValueText(f), FigureIntervalText(f), TausText(f),
                f.hasLimit ? Esc(f.limitText) + " (" + ShortNumber(f.limit) + " " + Esc(f.unit) + ")" : "",
                f.hasLimit ? VerdictCell(f.verdict) : "", MarginText(f)});
    h += "</table>\n";
  }

  h += "<h2>6. Limits</h2>\n";
  std::string limits;
  for (const AxisReport& a : r.axes)
    for (const FigureRecord& f : a.figures)
      if (f.hasLimit)
        limits += Row({Esc(a.title), Esc(FigureLabel(f)), FigureValueText(f), Esc(f.limitText),
                       VerdictCell(f.verdict), MarginText(f)});
  if (limits.empty()) h += "<p>No limits were given.</p>\n";
  else
    h += "<table width=\"100%\">\n" + Row({"Axis", "Figure", "Value", "Limit (maximum)", "Verdict", "Margin"}, "th") + limits +
         "</table>\n";

  h += "<h2>How this report was made</h2>\n<table>\n";
  h += Row({"Program", Esc(r.program + " " + r.version)});
  h += Row({"Command", "<code>" + Esc(r.command) + "</code>"});
  std::string stages;
  for (EvaluationStage s : r.stagesDone) stages += (stages.empty() ? "" : ", ") + std::string(StageText(s));
  h += Row({"Stages done", stages.empty() ? "none" : stages});
  h += "</table>\n</body>\n</html>\n";
  return h;
}

}  // namespace pemra
