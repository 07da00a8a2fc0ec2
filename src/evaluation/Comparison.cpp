#include "evaluation/Comparison.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "evaluation/ReportHtml.h"
#include "evaluation/SvgPlot.h"

namespace pemra {

namespace {

constexpr double kMadToSigma = 1.4826;  // a normal spread's MAD to its standard deviation

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

const FigureRecord* FindFigure(const AxisReport& axis, const std::string& key) {
  for (const FigureRecord& f : axis.figures)
    if (f.key == key) return &f;
  return nullptr;
}

const AxisReport* FindAxis(const EvaluationReport& r, const std::string& title) {
  for (const AxisReport& a : r.axes)
    if (a.title == title) return &a;
  return nullptr;
}

}  // namespace

std::vector<bool> Outliers(const std::vector<double>& values) {
  std::vector<bool> out(values.size(), false);
  // (Two values lie symmetric about their median, so neither ever stands out.)
  if (values.empty()) return out;
  const double median = Median(values);
  std::vector<double> deviations;
  for (double v : values) deviations.push_back(std::abs(v - median));
  const double spread = kMadToSigma * Median(deviations);
  for (size_t i = 0; i < values.size(); ++i)
    out[i] = spread > 0 ? std::abs(values[i] - median) > kOutlierSpread * spread : values[i] != median;
  return out;
}

std::string ComparisonHtml(const std::vector<ComparedUnit>& units, const std::string& command,
                           const std::string& version) {
  std::string h = HtmlHead("Comparison of " + std::to_string(units.size()) + " evaluations");
  h += "<h1>Comparison of " + std::to_string(units.size()) + " evaluations</h1>\n";
  h += "<table>\n<tr><th>Unit (folder)</th><th>Model</th><th>Adapter</th><th>Started (UTC)</th><th>Still log</th>"
       "<th>Self-test</th><th>Verdict</th></tr>\n";
  for (const ComparedUnit& u : units) {
    const EvaluationReport& r = u.report;
    const Verdict v = r.Overall();
    h += "<tr><td>" + XmlEscaped(u.folder) + "</td><td>" + std::to_string(r.model) + "</td><td>" +
         XmlEscaped(r.adapter) + "</td><td>" + XmlEscaped(r.started) + "</td><td>" + ShortNumber(r.logSeconds, 6) +
         " s" + (r.complete ? "" : " <b class=\"fail\">INCOMPLETE</b>") + "</td><td>" +
         (r.selfTestRun ? (r.selfTestPassed ? "PASS" : "<b class=\"fail\">FAIL</b>") : "not run") + "</td><td>" +
         (v == Verdict::Fail ? "<b class=\"fail\">FAIL</b>" : v == Verdict::Pass ? "PASS" : "no limits") +
         "</td></tr>\n";
  }
  h += "</table>\n";

  // The axes in the order the first unit that has them lists them.
  std::vector<std::string> titles;
  for (const ComparedUnit& u : units)
    for (const AxisReport& a : u.report.axes)
      if (std::find(titles.begin(), titles.end(), a.title) == titles.end()) titles.push_back(a.title);

  std::vector<std::string> keys;
  for (const ComparedUnit& u : units)
    for (const AxisReport& a : u.report.axes)
      for (const FigureRecord& f : a.figures)
        if (std::find(keys.begin(), keys.end(), f.key) == keys.end()) keys.push_back(f.key);

  h += "<h2>Figures</h2>\n<p>Outliers (marked OUTLIER) lie further than " + ShortNumber(kOutlierSpread) +
       " scaled median absolute deviations from the median of the units.</p>\n";
  h += "<table>\n<tr><th>Axis</th><th>Figure</th>";
  for (const ComparedUnit& u : units) h += "<th>" + XmlEscaped(u.folder) + "</th>";
  h += "</tr>\n";
  for (const std::string& title : titles)
    for (const std::string& key : keys) {
      std::vector<const FigureRecord*> figures;
      std::vector<double> values;
      std::vector<size_t> at;
      for (size_t i = 0; i < units.size(); ++i) {
        const AxisReport* a = FindAxis(units[i].report, title);
        const FigureRecord* f = a ? FindFigure(*a, key) : nullptr;
        figures.push_back(f);
        if (f && f->determined) values.push_back(f->value), at.push_back(i);
      }
      const std::vector<bool> outliers = Outliers(values);
      std::vector<bool> outlier(units.size(), false);
      for (size_t k = 0; k < at.size(); ++k) outlier[at[k]] = outliers[k];
      const FigureRecord* any = *std::find_if(figures.begin(), figures.end(), [](auto* f) { return f != nullptr; });
      if (any == nullptr) continue;
      h += "<tr><td>" + XmlEscaped(title) + "</td><td>" + XmlEscaped(FigureLabel(*any)) + "</td>";
      for (size_t i = 0; i < units.size(); ++i) {
        const FigureRecord* f = figures[i];
        std::string cell;
        if (f == nullptr) cell = "not measured";
        else {
          cell = FigureValueText(*f);
          if (f->determined && f->hasInterval) cell += "<br>" + FigureIntervalText(*f);
          if (f->verdict == Verdict::Fail) cell += " <b class=\"fail\">FAIL</b>";
          if (f->verdict == Verdict::Pass) cell += " PASS";
          if (outlier[i]) cell = "<b>OUTLIER</b> " + cell;
        }
        h += "<td>" + cell + "</td>";
      }
      h += "</tr>\n";
    }
  h += "</table>\n";

  h += "<h2>Allan deviation per axis</h2>\n";
  for (const std::string& title : titles) {
    std::vector<PlotSeries> series;
    std::string unit;
    for (const ComparedUnit& u : units) {
      const AxisReport* a = FindAxis(u.report, title);
      if (a == nullptr || a->curve.empty()) continue;
      PlotSeries s;
      s.label = u.folder;
      for (const CurvePoint& p : a->curve) {
        s.x.push_back(p.tau);
        s.y.push_back(p.deviation);
        s.low.push_back(p.low);
        s.high.push_back(p.high);
      }
      // A unit with an outlying figure on this axis is drawn thick.
      for (const std::string& key : keys) {
        std::vector<double> values;
        size_t mine = SIZE_MAX;
        for (const ComparedUnit& other : units) {
          const AxisReport* oa = FindAxis(other.report, title);
          const FigureRecord* f = oa ? FindFigure(*oa, key) : nullptr;
          if (f && f->determined) {
            if (&other == &u) mine = values.size();
            values.push_back(f->value);
          }
        }
        if (mine != SIZE_MAX && Outliers(values)[mine]) s.marked = true;
      }
      unit = a->dataUnit;
      series.push_back(std::move(s));
    }
    if (series.empty()) continue;
    PlotFrame frame{"Allan deviation, " + title, "tau (s)", "deviation (" + unit + ")", true, true, 640, 360};
    h += PlotHtml(PlotSvg(frame, series), frame.width, frame.height, {});
  }
  h += "<h2>How this report was made</h2>\n<p>pemra-cli " + XmlEscaped(version) + ": <code>" + XmlEscaped(command) +
       "</code></p>\n</body>\n</html>\n";
  return h;
}

}  // namespace pemra
