#include "gui/main/PlotCommand.h"

#include <QApplication>
#include <QByteArray>

#include <qcustomplot.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "analysis/LogView.h"
#include "core/ShownText.h"
#include "analysis/RowSelection.h"
#include "gui/kit/LogPlots.h"
#include "gui/kit/NoisePlots.h"
#include "gui/kit/PlotExport.h"

namespace pemra {

namespace {

// A message line with every text from a file, a name or a device made safe to show.
std::string Shown(const std::string& text) { return ShownText(text, kShownMessage); }

constexpr const char* kPlotUsage =
    "usage: pemra-eval --plot FILE... [--columns LIST] [--from S] [--to S] [--adev|--psd] [--join] "
    "-o OUT.png|svg|pdf\n";
constexpr int kWidth = 1200;
constexpr int kHeight = 720;

struct PlotArguments {
  std::vector<std::filesystem::path> files;
  std::vector<std::string> columns;
  bool adev = false;
  bool psd = false;
  bool join = false;
  std::string output;
  std::optional<double> from, to;  // seconds from the start of the log
};

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = std::min(list.find(',', start), list.size());
    if (comma > start) names.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

// False with a message on standard error when the arguments are not usable.
bool ParsePlot(int argc, char** argv, PlotArguments& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--plot") {
      while (i + 1 < argc && argv[i + 1][0] != '-') a.files.emplace_back(argv[++i]);
    } else if (arg == "--columns" && i + 1 < argc) {
      a.columns = SplitList(argv[++i]);
    } else if (arg.rfind("--columns=", 0) == 0) {
      a.columns = SplitList(arg.substr(10));
    } else if ((arg == "--from" || arg == "--to") && i + 1 < argc) {
      const std::optional<double> seconds = SecondsFromText(argv[++i]);
      if (!seconds) {
        std::fprintf(stderr, "pemra-eval: %s: '%s' is not a number of seconds\n%s", arg.c_str(),
                     argv[i], kPlotUsage);
        return false;
      }
      (arg == "--from" ? a.from : a.to) = seconds;
    } else if (arg == "--adev") {
      a.adev = true;
    } else if (arg == "--psd") {
      a.psd = true;
    } else if (arg == "--join") {
      a.join = true;
    } else if ((arg == "-o" || arg == "--output") && i + 1 < argc) {
      a.output = argv[++i];
    } else {
      std::fprintf(stderr, "pemra-eval: unknown or incomplete argument '%s'\n%s",
                   ShownText(arg).c_str(), kPlotUsage);
      return false;
    }
  }
  if (a.files.empty()) {
    std::fprintf(stderr, "pemra-eval: --plot needs at least one log file\n%s", kPlotUsage);
    return false;
  }
  if (a.adev && a.psd) {
    std::fprintf(stderr, "pemra-eval: --adev and --psd draw different plots: give one\n%s", kPlotUsage);
    return false;
  }
  if (a.output.empty()) {
    std::fprintf(stderr, "pemra-eval: --plot needs the output file (-o OUT.png|svg|pdf)\n%s",
                 kPlotUsage);
    return false;
  }
  if (PlotFormat(QString::fromLocal8Bit(a.output.c_str())).isEmpty()) {
    std::fprintf(stderr, "pemra-eval: %s: the output must end in .png, .svg or .pdf\n",
                 ShownText(a.output).c_str());
    return false;
  }
  return true;
}

}  // namespace

bool IsPlotCommand(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--plot") == 0) return true;
  return false;
}

int RunPlotCommand(int argc, char** argv) {
  PlotArguments args;
  if (!ParsePlot(argc, argv, args)) return 2;

  auto log = std::make_shared<LoadedLog>();
  if (auto error = LoadLogColumns(args.files, args.columns, {}, *log)) {
    std::fprintf(stderr, "pemra-eval: %s\n", Shown(error->Text()).c_str());
    return 2;
  }
  if (!log->gaps.empty() && !args.join) {
    const SessionGap& gap = log->gaps.front();
    std::fprintf(stderr, "pemra-eval: %s\n",
                 Shown(log->layout.files[gap.file].path.string() + ": " + gap.reason +
                       ": not one session; give --join to join them anyway")
                     .c_str());
    return 2;
  }
  for (const SessionGap& gap : log->gaps)
    std::fprintf(stderr, "pemra-eval: warning: %s\n",
                 Shown(log->layout.files[gap.file].path.string() + ": " + gap.reason +
                       ": a gap in the series")
                     .c_str());
  if ((args.adev || args.psd) && log->samplesPerSecond <= 0) {
    std::fprintf(stderr, "pemra-eval: %s: no sample rate for the %s: %s\n",
                 Shown(log->Name()).c_str(), args.adev ? "averaging times" : "frequencies",
                 Shown(log->rateProblem).c_str());
    return 2;
  }
  RowRange rows;
  if (auto error = SelectSeconds(log->Rows(), log->samplesPerSecond, args.from, args.to, rows)) {
    std::fprintf(stderr, "pemra-eval: %s: %s\n", log->Name().c_str(), error->c_str());
    return 2;
  }

  // No display is needed: the plot is drawn off screen. Only Qt's own options (and the
  // program name) go to the application object.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  QCustomPlot plot;
  plot.resize(kWidth, kHeight);
  std::vector<size_t> chosen(log->series.columns.size());
  std::iota(chosen.begin(), chosen.end(), size_t{0});
  LogTimePlot timePlot(plot);
  const std::atomic<bool> cancel{false};
  if (args.adev) {
    plot.legend->setVisible(true);
    DrawNoisePlot(plot, ComputeNoiseCurves(*log, chosen, rows, AllanType::Overlapping,
                                           TauGrid{TauGridKind::Octave, {}}, cancel, {}));
  } else if (args.psd) {
    plot.legend->setVisible(true);
    DrawSpectrumPlot(plot, ComputeSpectra(*log, chosen, rows, cancel));
  } else {
    timePlot.SetLog(log);
    timePlot.Show(chosen);
    timePlot.ShowRows(rows);
  }
  plot.replot();
  if (auto error = SavePlot(plot, QString::fromLocal8Bit(args.output.c_str()), kWidth, kHeight)) {
    std::fprintf(stderr, "pemra-eval: %s\n", Shown(error->toStdString()).c_str());
    return 1;
  }
  return 0;
}

}  // namespace pemra
