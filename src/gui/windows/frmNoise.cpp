#include "gui/windows/frmNoise.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <span>

#include "analysis/ImuYaml.h"
#include "analysis/LogView.h"
#include "analysis/NoiseTables.h"
#include "core/ShownText.h"
#include "core/NumberText.h"
#include "gui/kit/AnalysisWindow.h"
#include "gui/kit/Application.h"
#include "gui/kit/BackgroundTask.h"
#include "gui/kit/EntryRules.h"
#include "gui/kit/FlowLayout.h"
#include "gui/kit/LogPlots.h"
#include "gui/kit/NamedWidget.h"
#include "gui/kit/NoisePlots.h"
#include "gui/kit/PlotAxes.h"
#include "gui/kit/PlotExport.h"

namespace pemra {

namespace {

// Screens fewer than this many pixels high (in the program's text scale) get the figures
// table in a tab beside the plots: under them, the plots would be too short to read.
constexpr int kShortScreen = 450;

// A computation estimated to take longer than this is asked about first.
constexpr double kAskAboveSeconds = 60;

// Text from a file or a name, made safe to show (control bytes escaped, length cut).
QString Text(const std::string& text) {
  return QString::fromStdString(ShownText(text, kShownMessage));
}

// "45 s", "12 min", "2 h 5 min".
QString DurationText(double seconds) {
  const auto s = static_cast<int64_t>(std::llround(seconds));
  if (s < 120) return QStringLiteral("%1 s").arg(s);
  if (s < 7200) return QStringLiteral("%1 min").arg((s + 30) / 60);
  return QStringLiteral("%1 h %2 min").arg(s / 3600).arg((s % 3600 + 30) / 60);
}

// "0.1258 deg/sqrt(h) (68%: 0.1241 to 0.1275; tau 0.01 to 1.28 s)" or "not determined: no
// flat stretch".
std::string FigureWithUnit(const NoiseFigure& figure, const FigureUnit& unit) {
  if (!figure.determined)
    return figure.reason.empty() ? "not determined" : "not determined: " + figure.reason;
  std::string text = FigureText(figure, unit.factor) + " " + unit.name + " (";
  if (figure.edf > 0) {
    NoiseFigure low = figure, high = figure;
    low.value = figure.low;
    high.value = figure.high;
    text += "68%: " + FigureText(low, unit.factor) + " to " + FigureText(high, unit.factor) + "; ";
  }
  NoiseFigure from = figure, to = figure;
  from.value = figure.tauLow;
  to.value = figure.tauHigh;
  if (figure.tauLow == figure.tauHigh) return text + "tau " + FigureText(from, 1) + " s)";
  return text + "tau " + FigureText(from, 1) + " to " + FigureText(to, 1) + " s)";
}

// The series slots of `other` to draw beside `chosen` of `log`: the columns of the same
// titles, or, when it has none of them, its gyro and accelerometer columns; none when none
// is chosen.
std::vector<size_t> MatchingSlots(const LoadedLog& log, const std::vector<size_t>& chosen,
                                  const LoadedLog& other) {
  if (chosen.empty()) return {};
  std::vector<size_t> picked, motion;
  for (size_t slot = 0; slot < other.series.columns.size(); ++slot) {
    const std::string title = other.ColumnTitle(slot);
    for (size_t c : chosen)
      if (log.ColumnTitle(c) == title) {
        picked.push_back(slot);
        break;
      }
    const ColumnKind kind = other.Column(slot).kind;
    if (kind == ColumnKind::Gyro || kind == ColumnKind::Accel) motion.push_back(slot);
  }
  return picked.empty() ? motion : picked;
}

// The units a data sheet's figures are typed in, per kind.
FigureUnits SheetUnits(int kind) {
  return kind == 1 ? UnitsFor(ColumnKind::Accel, "g") : UnitsFor(ColumnKind::Gyro, "deg/s");
}

AllanType TypeOf(int index) {
  switch (index) {
    case 1: return AllanType::Plain;
    case 2: return AllanType::Modified;
    case 3: return AllanType::Hadamard;
  }
  return AllanType::Overlapping;
}

}  // namespace

frmNoise::frmNoise(Application& app, QWidget* parent)
    : QDialog(parent), app_(app), curves_(std::make_shared<std::vector<NoiseCurve>>()) {
  SetUpAnalysisWindow(*this, "frmNoise", QStringLiteral("Noise (Allan Deviation)"));
  task_ = new BackgroundTask(this);

  cmdOpen = Named<QPushButton>("cmdOpen", QStringLiteral("Open..."));
  cmdAddLog = Named<QPushButton>("cmdAddLog", QStringLiteral("Add log..."));
  cmdAddLog->setToolTip(QStringLiteral("Draws the same columns of a further log beside the curves shown"));
  cmboType = Named<QComboBox>("cmboType");
  cmboType->addItems({QStringLiteral("Overlapping"), QStringLiteral("Plain"), QStringLiteral("Modified"),
                      QStringLiteral("Hadamard")});
  cmboGrid = Named<QComboBox>("cmboGrid");
  cmboGrid->addItems({QStringLiteral("Octave"), QStringLiteral("Decade"), QStringLiteral("Every tau")});
  cmdExportPlot = Named<QPushButton>("cmdExportPlot", QStringLiteral("Export Plot..."));
  cmdExportTable = Named<QPushButton>("cmdExportTable", QStringLiteral("Export Table..."));
  cmdExportPoints = Named<QPushButton>("cmdExportPoints", QStringLiteral("Export Points..."));
  cmboSheetKind = Named<QComboBox>("cmboSheetKind");
  cmboSheetKind->addItems({QStringLiteral("Gyro"), QStringLiteral("Accelerometer")});
  txtSheetN = Named<QLineEdit>("txtSheetN");
  txtSheetB = Named<QLineEdit>("txtSheetB");
  lblSheetNUnit = Named<QLabel>("lblSheetNUnit");
  lblSheetBUnit = Named<QLabel>("lblSheetBUnit");
  for (QLineEdit* box : {txtSheetN, txtSheetB}) {
    box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("0.000000")) + 12);
    box->setToolTip(QStringLiteral("A data sheet's figure, drawn beside the curves (empty: none)"));
  }
  cmdExportYaml = Named<QPushButton>("cmdExportYaml", QStringLiteral("Export imu.yaml..."));
  chkLegend = Named<QCheckBox>("chkLegend", QStringLiteral("Legend"));
  chkLegend->setChecked(true);
  // Label and control in pairs, so a wrapped row never parts a label from its box.
  const auto pair = [](const QString& label, QWidget* control, QLabel* unit = nullptr) {
    auto* group = new QWidget;
    auto* row = new QHBoxLayout(group);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(label));
    row->addWidget(control);
    if (unit) row->addWidget(unit);
    return group;
  };
  auto* buttons = new FlowLayout;
  buttons->addWidget(cmdOpen);
  buttons->addWidget(cmdAddLog);
  buttons->addWidget(pair(QStringLiteral("Type"), cmboType));
  buttons->addWidget(pair(QStringLiteral("Tau"), cmboGrid));
  buttons->addWidget(chkLegend);
  buttons->addWidget(pair(QStringLiteral("Data sheet"), cmboSheetKind));
  buttons->addWidget(pair(QStringLiteral("N"), txtSheetN, lblSheetNUnit));
  buttons->addWidget(pair(QStringLiteral("B"), txtSheetB, lblSheetBUnit));
  for (QPushButton* b : {cmdExportPlot, cmdExportTable, cmdExportPoints, cmdExportYaml})
    buttons->addWidget(b);

  lstColumns = Named<QListWidget>("lstColumns");
  plotNoise = Named<QCustomPlot>("plotNoise");
  plotSpectrum = Named<QCustomPlot>("plotSpectrum");
  tabPlots = Named<QTabWidget>("tabPlots");
  for (QCustomPlot* plot : {plotNoise, plotSpectrum}) {
    plot->setMinimumSize(200, 120);
    plot->legend->setVisible(true);
  }
  tabPlots->addTab(plotNoise, QStringLiteral("Deviation"));
  tabPlots->addTab(plotSpectrum, QStringLiteral("Spectrum"));
  tblFigures = AnalysisTable("tblFigures", {QStringLiteral("Column"), QStringLiteral("N (random walk)"),
                                            QStringLiteral("B (bias instability)"),
                                            QStringLiteral("K (rate random walk)"),
                                            QStringLiteral("Minimum deviation")});
  const ProgressRow progress =
      LayOutAnalysisWindow(*this, *task_, buttons, lstColumns, tabPlots, tblFigures, "prgCompute");
  prgCompute = progress.bar;
  // On a short screen (a large text scale on a small one) the plots get the height and the
  // table a tab of its own.
  if (const QScreen* shown = screen(); shown && shown->availableGeometry().height() < kShortScreen)
    PutTableInTab();
  cmdCancel = progress.cancel;
  lblStatus = progress.status;

  connect(cmdOpen, &QPushButton::clicked, this, &frmNoise::cmdOpen_Click);
  connect(cmdExportPlot, &QPushButton::clicked, this, &frmNoise::cmdExportPlot_Click);
  connect(cmdExportTable, &QPushButton::clicked, this, &frmNoise::cmdExportTable_Click);
  connect(cmdAddLog, &QPushButton::clicked, this, &frmNoise::cmdAddLog_Click);
  connect(cmdExportPoints, &QPushButton::clicked, this, &frmNoise::cmdExportPoints_Click);
  for (QLineEdit* box : {txtSheetN, txtSheetB})
    connect(box, &QLineEdit::textChanged, this, &frmNoise::txtSheet_Change);
  connect(cmboSheetKind, &QComboBox::currentIndexChanged, this, &frmNoise::txtSheet_Change);
  connect(cmdExportYaml, &QPushButton::clicked, this, &frmNoise::cmdExportYaml_Click);
  connect(cmboType, &QComboBox::currentIndexChanged, this, &frmNoise::Recompute);
  connect(cmboGrid, &QComboBox::currentIndexChanged, this, &frmNoise::Recompute);
  connect(lstColumns, &QListWidget::itemChanged, this, &frmNoise::Recompute);
  connect(task_, &BackgroundTask::RunningChanged, this, &frmNoise::SetBusy);
  connect(chkLegend, &QCheckBox::toggled, this, &frmNoise::chkLegend_Toggled);

  spectra_ = std::make_shared<std::vector<SpectrumCurve>>();
  new MovableLegend(*plotNoise, *plotNoise->legend);
  new MovableLegend(*plotSpectrum, *plotSpectrum->legend);
  txtSheet_Change();  // the units, and the empty plots
  SetBusy(false);
  Report(QStringLiteral("No log open: \"Open...\" reads the files of a session."));
}

frmNoise::~frmNoise() { task_->Stop(); }

std::function<void(QWidget*)> frmNoise::Opener(Application& app) {
  auto kept = std::make_shared<QPointer<frmNoise>>();
  return [&app, kept](QWidget* parent) {
    const bool first = *kept == nullptr;
    if (first) {
      *kept = new frmNoise(app, parent);
      (*kept)->setAttribute(Qt::WA_DeleteOnClose);
    }
    ShowAnalysisWindow(**kept, first);
    frmNoise* window = *kept;
    if (app.openLog && (app.openLog != window->log_ || app.openRows != window->rows_)) {
      window->SetLog(app.openLog, app.openRows);
    } else if (!window->log_ && !window->Busy()) {
      // Asked once the window is on screen, so the dialog opens over it.
      QTimer::singleShot(0, window, &frmNoise::cmdOpen_Click);
    }
  };
}

bool frmNoise::Busy() const { return task_->Running(); }

void frmNoise::Report(const QString& text) { lblStatus->setText(text); }

void frmNoise::SetBusy(bool busy) {
  // While a computation runs, the result shown before stays and can still be saved.
  const bool any = !curves_->empty();
  cmdOpen->setEnabled(!busy || log_ != nullptr);
  cmdAddLog->setEnabled(log_ != nullptr && !busy);
  for (QPushButton* b : {cmdExportPlot, cmdExportTable, cmdExportPoints, cmdExportYaml})
    b->setEnabled(any);
}

QString frmNoise::BaseName() const {
  if (!log_) return QStringLiteral("noise");
  return QFileInfo(QFile::decodeName(log_->layout.files.front().path.c_str())).completeBaseName();
}

void frmNoise::cmdOpen_Click() {
  const QStringList files = AskForLogFiles(this, app_.options.dataDir);
  if (!files.isEmpty()) OpenFiles(files);
}

void frmNoise::cmdAddLog_Click() {
  if (!log_) return cmdOpen_Click();
  const QStringList files = AskForLogFiles(this, app_.options.dataDir);
  if (!files.isEmpty()) AddLogFiles(files);
}

void frmNoise::ReadInBackground(const QStringList& files,
                                std::function<void(std::shared_ptr<const LoadedLog>)> read) {
  Report(QStringLiteral("Reading %1...").arg(QFileInfo(files.front()).fileName()));
  LoadLogInBackground(*task_, files, [this, read = std::move(read)](std::shared_ptr<const LoadedLog> log,
                                                                    std::optional<LogError> error) {
    if (error && error->cancelled) {
      Report(log_ ? QStringLiteral("Reading cancelled: the log analysed is unchanged.")
                  : QStringLiteral("Reading cancelled: no log open."));
    } else if (error) {
      Report(QStringLiteral("Not read: ") + Text(error->Text()));
      QMessageBox::warning(this, windowTitle(), Text(error->Text()));
    } else {
      // After this completion has run: the new computation is a task of its own.
      QTimer::singleShot(0, this, [read, log] { read(log); });
      return;
    }
    emit WorkEnded();
  });
}

void frmNoise::OpenFiles(const QStringList& files) {
  ReadInBackground(files, [this](std::shared_ptr<const LoadedLog> log) {
    app_.openLog = log;
    app_.openRows = {};
    SetLog(log);
  });
}

void frmNoise::AddLogFiles(const QStringList& files) {
  if (!log_) return OpenFiles(files);
  ReadInBackground(files, [this](std::shared_ptr<const LoadedLog> log) {
    if (log->samplesPerSecond <= 0) {
      const QString text = QStringLiteral("%1 not added: no sample rate, so no averaging times: %2")
                               .arg(Text(log->Name()), Text(log->rateProblem));
      Report(text);
      QMessageBox::warning(this, windowTitle(), text);
      emit WorkEnded();
      return;
    }
    added_.push_back(std::move(log));
    Recompute();
  });
}

void frmNoise::SetLog(std::shared_ptr<const LoadedLog> log, RowRange rows) {
  task_->Stop();
  log_ = std::move(log);
  added_.clear();
  // Within the log; nothing chosen means all of it.
  rows_ = rows.count > 0 ? RowsBetween(log_->Rows(), 1.0, static_cast<double>(rows.first),
                                       static_cast<double>(rows.End() - 1))
                         : RowRange{};
  if (rows_ == RowRange{0, log_->Rows()}) rows_ = {};
  curves_ = std::make_shared<std::vector<NoiseCurve>>();
  spectra_ = std::make_shared<std::vector<SpectrumCurve>>();
  ShowCurves();
  setWindowTitle(QStringLiteral("Noise (Allan Deviation) - ") + Text(log_->Name()));
  FillColumnList(*lstColumns, *log_);
  Recompute();
}

QString frmNoise::StretchText() const {
  if (!log_) return {};
  if (rows_.count == 0)
    return QStringLiteral("%1: %2 rows").arg(Text(log_->Name())).arg(log_->Rows());
  const auto seconds = [this](int64_t row) {
    return Text(GeneralText(static_cast<float>(log_->RowTime(row)), app_.DecimalSeparator()));
  };
  return QStringLiteral("%1: rows %2 to %3 of %4 (%5 s to %6 s), %7 rows")
      .arg(Text(log_->Name()))
      .arg(rows_.first + 1)
      .arg(rows_.End())
      .arg(log_->Rows())
      .arg(seconds(rows_.first), seconds(rows_.End() - 1))
      .arg(rows_.count);
}

bool frmNoise::AcceptLongComputation(const std::vector<size_t>& chosen, int type, int grid) {
  if (grid != 2 || chosen.empty()) return true;
  const RowRange rows = rows_.count > 0 ? rows_ : RowRange{0, log_->Rows()};
  const AllanType allan = TypeOf(type);
  const std::vector<int64_t> factors =
      AveragingFactors(TauGrid{TauGridKind::All, {}}, rows.count, log_->samplesPerSecond, allan);
  // The terms each averaging factor costs, and the time of one term measured here on a part
  // of the log at factor 1.
  double terms = 0;
  for (int64_t m : factors)
    terms += allan == AllanType::Plain ? static_cast<double>(rows.count) / static_cast<double>(m)
                                       : static_cast<double>(std::max<int64_t>(rows.count - 2 * m, 1));
  terms *= static_cast<double>(chosen.size());
  const int64_t sample = std::min<int64_t>(rows.count, 65536);
  const std::span<const double> part(log_->series.values[chosen.front()].data() + rows.first,
                                     static_cast<size_t>(sample));
  const auto start = std::chrono::steady_clock::now();
  AllanDeviation(part, log_->samplesPerSecond, allan,
                 TauGrid{TauGridKind::List, {1.0 / log_->samplesPerSecond}});
  const double perTerm = std::max(1e-9, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                                            static_cast<double>(sample));
  const double seconds = terms * perTerm;
  if (seconds < kAskAboveSeconds) return true;
  const QString question =
      QStringLiteral("\"Every tau\" on %1 rows means %2 averaging times per column: about %3 of "
                     "computing for %4 columns. Compute them?")
          .arg(rows.count)
          .arg(factors.size())
          .arg(DurationText(seconds))
          .arg(chosen.size());
  return QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void frmNoise::PutTableInTab() {
  if (tabPlots->indexOf(tblFigures) >= 0) return;
  tabPlots->addTab(tblFigures, QStringLiteral("Figures"));
}

void frmNoise::chkLegend_Toggled(bool on) {
  for (QCustomPlot* plot : {plotNoise, plotSpectrum}) {
    plot->legend->setVisible(on);
    plot->replot(QCustomPlot::rpQueuedReplot);
  }
}

void frmNoise::txtSheet_Change() {
  const QChar separator = QChar::fromLatin1(app_.DecimalSeparator());
  for (QLineEdit* box : {txtSheetN, txtSheetB})
    if (auto fix = DataSheetFigureCorrection(box->text(), separator)) box->setText(*fix);
  const FigureUnits units = SheetUnits(cmboSheetKind->currentIndex());
  lblSheetNUnit->setText(QString::fromStdString(units.n.name));
  lblSheetBUnit->setText(QString::fromStdString(units.b.name));
  DrawCurves();
}

void frmNoise::DrawCurves() {
  const QChar separator = QChar::fromLatin1(app_.DecimalSeparator());
  DataSheetLine sheet;
  sheet.kind = cmboSheetKind->currentIndex() == 1 ? ColumnKind::Accel : ColumnKind::Gyro;
  sheet.n = NumericValue(txtSheetN->text(), separator).value_or(0);
  sheet.b = NumericValue(txtSheetB->text(), separator).value_or(0);
  DrawNoisePlot(*plotNoise, *curves_, sheet);
  DrawSpectrumPlot(*plotSpectrum, *spectra_);
}

void frmNoise::Recompute() {
  if (!log_) return;
  task_->Stop();
  if (log_->samplesPerSecond <= 0) {
    curves_ = std::make_shared<std::vector<NoiseCurve>>();
    spectra_ = std::make_shared<std::vector<SpectrumCurve>>();
    ShowCurves();
    Report(QStringLiteral("%1: no sample rate, so no averaging times: %2")
               .arg(Text(log_->Name()), Text(log_->rateProblem)));
    emit WorkEnded();
    return;
  }
  const Choices asked{cmboType->currentIndex(), cmboGrid->currentIndex(), CheckedSlots(*lstColumns)};
  if (!AcceptLongComputation(asked.columns, asked.type, asked.grid)) {
    RestoreChoices(shownChoices_);
    Report(QStringLiteral("Not computed: the result shown is kept."));
    emit WorkEnded();
    return;
  }
  const AllanType type = TypeOf(asked.type);
  const TauGrid grid{asked.grid == 1   ? TauGridKind::Decade
                     : asked.grid == 2 ? TauGridKind::All
                                       : TauGridKind::Octave,
                     {}};
  // The first log over its stretch, then every added log whole, over the same columns.
  struct Part {
    std::shared_ptr<const LoadedLog> log;
    std::vector<size_t> picked;
    RowRange rows;
  };
  std::vector<Part> parts{{log_, asked.columns, rows_.count > 0 ? rows_ : RowRange{0, log_->Rows()}}};
  size_t total = asked.columns.size();
  for (const auto& added : added_) {
    parts.push_back({added, MatchingSlots(*log_, asked.columns, *added), RowRange{0, added->Rows()}});
    total += parts.back().picked.size();
  }
  Report(QStringLiteral("Computing the %1 of %2 columns...")
             .arg(Text(std::string(DeviationName(type))))
             .arg(total));
  struct Result {
    std::vector<NoiseCurve> curves;
    std::vector<SpectrumCurve> spectra;
  };
  auto result = std::make_shared<Result>();
  auto log = log_;
  task_->Start(
      [parts, total, type, grid, result](const std::atomic<bool>& cancel,
                                         const BackgroundTask::Progress& progress) {
        size_t done = 0;
        for (size_t p = 0; p < parts.size() && !cancel; ++p) {
          const Part& part = parts[p];
          const double share = static_cast<double>(part.picked.size()) / static_cast<double>(std::max<size_t>(total, 1));
          const double before = static_cast<double>(done) / static_cast<double>(std::max<size_t>(total, 1));
          std::vector<NoiseCurve> curves = ComputeNoiseCurves(
              *part.log, part.picked, part.rows, type, grid, cancel,
              [&](double fraction) { progress(before + share * fraction); });
          std::vector<SpectrumCurve> spectra = ComputeSpectra(*part.log, part.picked, part.rows, cancel);
          if (cancel) break;
          // A further log's curves: colours apart from the first log's, dashed.
          const auto mark = [p](auto& curve) {
            curve.colour = curve.slot + 4 * p;
            curve.overlay = p > 0;
          };
          std::for_each(curves.begin(), curves.end(), mark);
          std::for_each(spectra.begin(), spectra.end(), mark);
          done += curves.size();
          result->curves.insert(result->curves.end(), curves.begin(), curves.end());
          result->spectra.insert(result->spectra.end(), spectra.begin(), spectra.end());
        }
      },
      [this, result, asked, log, type, total] {
        if (result->curves.size() < total) {
          // The curves and figures shown before stay, with the choices they were made with.
          RestoreChoices(shownChoices_);
          Report(QStringLiteral("Cancelled after %1 of %2 columns: the result shown before is kept.")
                     .arg(result->curves.size())
                     .arg(total));
          SetBusy(false);
          emit WorkEnded();
          return;
        }
        QString text = QStringLiteral("%1 at %2 samples/s")
                           .arg(StretchText())
                           .arg(Text(GeneralText(static_cast<float>(log->samplesPerSecond),
                                                 app_.DecimalSeparator())));
        for (const auto& added : added_)
          text += QStringLiteral("; beside it %1: %2 rows at %3 samples/s")
                      .arg(Text(added->Name()))
                      .arg(added->Rows())
                      .arg(Text(GeneralText(static_cast<float>(added->samplesPerSecond),
                                            app_.DecimalSeparator())));
        const WarningLine warnings = SummariseWarnings(log->rateWarnings);
        if (!warnings.text.isEmpty()) text += QStringLiteral("; ") + warnings.text;
        Report(text);
        lblStatus->setToolTip(warnings.tooltip);
        curves_ = std::make_shared<std::vector<NoiseCurve>>(std::move(result->curves));
        spectra_ = std::make_shared<std::vector<SpectrumCurve>>(std::move(result->spectra));
        curvesType_ = static_cast<int>(type);
        shownChoices_ = asked;
        ShowCurves();
        emit WorkEnded();
      });
}

void frmNoise::RestoreChoices(const Choices& choices) {
  const QSignalBlocker quietType(cmboType), quietGrid(cmboGrid), quietList(lstColumns);
  cmboType->setCurrentIndex(choices.type);
  cmboGrid->setCurrentIndex(choices.grid);
  for (int i = 0; i < lstColumns->count(); ++i) {
    const bool on = std::find(choices.columns.begin(), choices.columns.end(), static_cast<size_t>(i)) !=
                    choices.columns.end();
    lstColumns->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
}

void frmNoise::ShowCurves() {
  DrawCurves();
  const bool withLog = SeveralLogs(*curves_);
  tblFigures->setRowCount(static_cast<int>(curves_->size()));
  for (size_t i = 0; i < curves_->size(); ++i) {
    const NoiseCurve& c = (*curves_)[i];
    const FigureUnits units = UnitsFor(c.kind, c.unit);
    const std::string cells[] = {CurveLabel(c.title, c.log, withLog), FigureWithUnit(c.figures.randomWalk, units.n),
                                 FigureWithUnit(c.figures.biasInstability, units.b),
                                 FigureWithUnit(c.figures.rateRandomWalk, units.k),
                                 FigureWithUnit(c.figures.minimum, units.b)};
    for (int col = 0; col < 5; ++col) {
      auto* item = new QTableWidgetItem(Text(cells[col]));
      item->setToolTip(item->text());
      if (col == 0) item->setForeground(PlotColour(c.colour));
      tblFigures->setItem(static_cast<int>(i), col, item);
    }
  }
  SetBusy(task_->Running());
}

namespace {

std::vector<NoiseTableCurve> TableCurves(const std::vector<NoiseCurve>& curves) {
  std::vector<NoiseTableCurve> table;
  for (const NoiseCurve& c : curves)
    table.push_back({c.log, c.title, c.kind, c.unit, c.type, &c.points, &c.figures});
  return table;
}

}  // namespace

std::string frmNoise::TableCsv() const { return FigureTableCsv(TableCurves(*curves_)); }

std::string frmNoise::PointsCsv() const { return DeviationPointsCsv(TableCurves(*curves_)); }

std::optional<QString> frmNoise::ExportPlot(const QString& fileName) {
  return SavePlot(tabPlots->currentWidget() == plotSpectrum ? *plotSpectrum : *plotNoise, fileName);
}

std::optional<QString> frmNoise::SaveCsv(const QString& fileName, const std::string& text) {
  if (curves_->empty()) return QStringLiteral("%1 not written: no curves computed").arg(fileName);
  return SaveText(fileName, [&text](const auto& append) { return append(text); });
}

std::optional<QString> frmNoise::ExportTable(const QString& fileName) {
  return SaveCsv(fileName, TableCsv());
}

std::optional<QString> frmNoise::ExportPoints(const QString& fileName) {
  return SaveCsv(fileName, PointsCsv());
}

std::optional<QString> frmNoise::ExportImuYaml(const QString& fileName) {
  if (!log_) return QStringLiteral("No log open");
  std::vector<AxisFigures> axes;
  // Only the first log's columns (a noise model is of one unit), in the units the file's keys
  // are converted from (not raw register values).
  for (const NoiseCurve& c : *curves_)
    if (!c.overlay &&
        ((c.kind == ColumnKind::Gyro && c.unit == "deg/s") || (c.kind == ColumnKind::Accel && c.unit == "g")))
      axes.push_back({c.title, c.kind, c.figures});
  std::vector<std::string> missing;
  const std::string text = ImuYamlText(log_->Name(), axes, log_->samplesPerSecond, &missing,
                                       static_cast<AllanType>(curvesType_));
  if (!missing.empty()) {
    // Calibration tools would load a guess: nothing is written.
    QStringList names;
    for (const std::string& m : missing) names << Text(m);
    return QStringLiteral("%1 not written: not determined from this log: %2")
        .arg(fileName, names.join(QStringLiteral("; ")));
  }
  if (auto error = SaveText(fileName, [&text](const auto& append) { return append(text); }))
    return error;
  Report(QStringLiteral("Noise model saved as ") + fileName);
  return std::nullopt;
}

void frmNoise::cmdExportPlot_Click() {
  const bool spectrum = tabPlots->currentWidget() == plotSpectrum;
  QString file = AskForPlotFile(this, app_.options.dataDir,
                                BaseName() + (spectrum ? QStringLiteral("_psd.png") : QStringLiteral("_adev.png")));
  if (file.isEmpty()) return;
  if (PlotFormat(file).isEmpty()) file += QStringLiteral(".png");
  if (auto error = ExportPlot(file)) {
    QMessageBox::warning(this, windowTitle(), *error);
  } else {
    Report(QStringLiteral("Plot saved as ") + file);
  }
}

void frmNoise::AskAndSaveCsv(const QString& caption, const QString& suffix,
                             std::optional<QString> (frmNoise::*save)(const QString&)) {
  const QString file = AskForSaveFile(this, app_.options.dataDir, caption, BaseName() + suffix,
                                      QStringLiteral("CSV (*.csv);;All files (*)"));
  if (file.isEmpty()) return;
  if (auto error = (this->*save)(file)) {
    QMessageBox::warning(this, windowTitle(), *error);
  } else {
    Report(QStringLiteral("%1 saved as %2").arg(caption.mid(7), file));
  }
}

void frmNoise::cmdExportTable_Click() {
  AskAndSaveCsv(QStringLiteral("Export Table"), QStringLiteral("_noise.csv"), &frmNoise::ExportTable);
}

void frmNoise::cmdExportPoints_Click() {
  AskAndSaveCsv(QStringLiteral("Export Points"), QStringLiteral("_points.csv"), &frmNoise::ExportPoints);
}

void frmNoise::cmdExportYaml_Click() {
  const QString file = AskForSaveFile(this, app_.options.dataDir, QStringLiteral("Export imu.yaml"),
                                      QStringLiteral("imu.yaml"),
                                      QStringLiteral("YAML (*.yaml *.yml);;All files (*)"));
  if (file.isEmpty()) return;
  if (auto error = ExportImuYaml(file)) QMessageBox::warning(this, windowTitle(), *error);
}

}  // namespace pemra
