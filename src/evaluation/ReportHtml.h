#pragma once
// report.html: the evaluation as one self-contained page, stage by stage, with its plots
// inline as SVG, every number with its unit and interval, the verdicts, and the commands
// and versions that made it. The same page with its plots as image references is what
// the PDF is printed from (the PDF writer draws the SVGs itself).

#include <string>
#include <vector>

#include "evaluation/EvaluationReport.h"

namespace pemra {

struct HtmlPlots {
  // Null: plots inline as <svg>. Otherwise each plot becomes <img src="plot-K"> (K from 0)
  // and its SVG text is appended here.
  std::vector<std::string>* images = nullptr;
  // The width the referenced images are shown at (a printed page is narrower than a screen).
  int printedWidth = 600;
};

std::string ReportHtml(const EvaluationReport& report, const HtmlPlots& plots = {});

// Pieces shared with the comparison report.
std::string HtmlHead(const std::string& title);
// A plot as the page holds it: the SVG inline, or an image reference (see HtmlPlots).
std::string PlotHtml(const std::string& svg, int width, int height, const HtmlPlots& plots);
// "N angle random walk", "minimum deviation".
std::string FigureLabel(const FigureRecord& figure);
// "1.258 deg/sqrt(h)", or "not determined (reason)".
std::string FigureValueText(const FigureRecord& figure);
// "[1.1, 1.4]", or "not determined (...)".
std::string FigureIntervalText(const FigureRecord& figure);

}  // namespace pemra
