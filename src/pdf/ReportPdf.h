#pragma once
// A report page as a printable PDF, drawn by Qt's rich-text layout and PDF writer with no
// display (the offscreen platform when no Qt application runs yet). Qt stays behind this
// header: the command line includes it without seeing Qt.

#include <optional>
#include <string>
#include <vector>

namespace pemra {

// `html` refers to its plots as <img src="plot-K">, K indexing `images` (SVG texts); each is
// drawn at three times its size so it prints sharp. The document goes into `pdf`; an error
// text when a plot cannot be read or nothing could be drawn. In a program with a Qt
// application it must run on that application's thread.
std::optional<std::string> RenderReportPdf(const std::string& html, const std::vector<std::string>& images,
                                           std::string& pdf);

}  // namespace pemra
