#include "gui/windows/frmNoise.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
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
#include "core/ShownText.h"
#include "core/NumberText.h"
#include "gui/kit/AnalysisWindow.h"
#include "gui/kit/Application.h"
#include "gui/kit/BackgroundTask.h"
#include "gui/kit/LogPlots.h"
#include "gui/kit/NamedWidget.h"
#include "gui/kit/PlotAxes.h"
#include "gui/kit/PlotExport.h"

namespace pemra {

namespace {

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

// "0.1258 deg/sqrt(h) (68%: 0.1241 to 0.1275)" or "not determined: no flat stretch".
std::string FigureWithUnit(const NoiseFigure& figure, const FigureUnit& unit) {
  if (!figure.determined)
    return figure.reason.empty() ? "not determined" : "not determined: " + figure.reason;
  std::string text = FigureText(figure, unit.factor) + " " + unit.name;
  if (figure.edf > 0) {
    NoiseFigure low = figure, high = figure;
    low.value = figure.low;
    high.value = figure.high;
    text += " (68%: " + FigureText(low, unit.factor) + " to " + FigureText(high, unit.factor) + ")";
  }
  return text;
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
  cmboType = Named<QComboBox>("cmboType");
  cmboType->addItems({QStringLiteral("Overlapping"), QStringLiteral("Plain"), QStringLiteral("Modified"),
                      QStringLiteral("Hadamard")});
  cmboGrid = Named<QComboBox>("cmboGrid");
  cmboGrid->addItems({QStringLiteral("Octave"), QStringLiteral("Decade"), QStringLiteral("Every tau")});
  cmdExportPlot = Named<QPushButton>("cmdExportPlot", QStringLiteral("Export Plot..."));
  cmdExportTable = Named<QPushButton>("cmdExportTable", QStringLiteral("Export Table..."));
  cmdExportYaml = Named<QPushButton>("cmdExportYaml", QStringLiteral("Export imu.yaml..."));
  chkLegend = Named<QCheckBox>("chkLegend", QStringLiteral("Legend"));
  chkLegend->setChecked(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdOpen);
  buttons->addWidget(new QLabel(QStringLiteral("Type")));
  buttons->addWidget(cmboType);
  buttons->addWidget(new QLabel(QStringLiteral("Tau")));
  buttons->addWidget(cmboGrid);
  buttons->addWidget(chkLegend);
  buttons->addStretch(1);
  for (QPushButton* b : {cmdExportPlot, cmdExportTable, cmdExportYaml}) buttons->addWidget(b);

  lstColumns = Named<QListWidget>("lstColumns");
  plotNoise = Named<QCustomPlot>("plotNoise");
  plotNoise->setMinimumSize(200, 120);
  tblFigures = AnalysisTable("tblFigures", {QStringLiteral("Column"), QStringLiteral("N (random walk)"),
                                            QStringLiteral("B (bias instability)"),
                                            QStringLiteral("K (rate random walk)"),
                                            QStringLiteral("Minimum deviation")});
  const ProgressRow progress =
      LayOutAnalysisWindow(*this, *task_, buttons, lstColumns, plotNoise, tblFigures, "prgCompute");
  prgCompute = progress.bar;
  cmdCancel = progress.cancel;
  lblStatus = progress.status;

  connect(cmdOpen, &QPushButton::clicked, this, &frmNoise::cmdOpen_Click);
  connect(cmdExportPlot, &QPushButton::clicked, this, &frmNoise::cmdExportPlot_Click);
  connect(cmdExportTable, &QPushButton::clicked, this, &frmNoise::cmdExportTable_Click);
  connect(cmdExportYaml, &QPushButton::clicked, this, &frmNoise::cmdExportYaml_Click);
  connect(cmboType, &QComboBox::currentIndexChanged, this, &frmNoise::Recompute);
  connect(cmboGrid, &QComboBox::currentIndexChanged, this, &frmNoise::Recompute);
  connect(lstColumns, &QListWidget::itemChanged, this, &frmNoise::Recompute);
  connect(task_, &BackgroundTask::RunningChanged, this, &frmNoise::SetBusy);
  connect(chkLegend, &QCheckBox::toggled, this, &frmNoise::chkLegend_Toggled);

  DrawNoisePlot(*plotNoise, {});
  new MovableLegend(*plotNoise, *plotNoise->legend);
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
  cmdExportPlot->setEnabled(any);
  cmdExportTable->setEnabled(any);
  cmdExportYaml->setEnabled(any);
}

QString frmNoise::BaseName() const {
  if (!log_) return QStringLiteral("noise");
  return QFileInfo(QFile::decodeName(log_->layout.files.front().path.c_str())).completeBaseName();
}

void frmNoise::cmdOpen_Click() {
  const QStringList files = AskForLogFiles(this, app_.options.dataDir);
  if (!files.isEmpty()) OpenFiles(files);
}

void frmNoise::OpenFiles(const QStringList& files) {
  Report(QStringLiteral("Reading %1...").arg(QFileInfo(files.front()).fileName()));
  LoadLogInBackground(*task_, files, [this](std::shared_ptr<const LoadedLog> log,
                                            std::optional<LogError> error) {
    if (error && error->cancelled) {
      Report(log_ ? QStringLiteral("Reading cancelled: the log analysed is unchanged.")
                  : QStringLiteral("Reading cancelled: no log open."));
    } else if (error) {
      Report(QStringLiteral("Not read: ") + Text(error->Text()));
      QMessageBox::warning(this, windowTitle(), Text(error->Text()));
    } else {
      app_.openLog = log;
      app_.openRows = {};
      // After this completion has run: the new computation is a task of its own.
      QTimer::singleShot(0, this, [this, log] { SetLog(log); });
      return;
    }
    emit WorkEnded();
  });
}

void frmNoise::SetLog(std::shared_ptr<const LoadedLog> log, RowRange rows) {
  task_->Stop();
  log_ = std::move(log);
  // Within the log; nothing chosen means all of it.
  rows_ = rows.count > 0 ? RowsBetween(log_->Rows(), 1.0, static_cast<double>(rows.first),
                                       static_cast<double>(rows.End() - 1))
                         : RowRange{};
  if (rows_ == RowRange{0, log_->Rows()}) rows_ = {};
  curves_ = std::make_shared<std::vector<NoiseCurve>>();
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

void frmNoise::chkLegend_Toggled(bool on) {
  plotNoise->legend->setVisible(on);
  plotNoise->replot(QCustomPlot::rpQueuedReplot);
}

void frmNoise::Recompute() {
  if (!log_) return;
  task_->Stop();
  if (log_->samplesPerSecond <= 0) {
    curves_ = std::make_shared<std::vector<NoiseCurve>>();
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
  Report(QStringLiteral("Computing the %1 of %2 columns...")
             .arg(Text(std::string(DeviationName(type))))
             .arg(asked.columns.size()));
  auto result = std::make_shared<std::vector<NoiseCurve>>();
  auto log = log_;
  const RowRange rows = rows_.count > 0 ? rows_ : RowRange{0, log_->Rows()};
  task_->Start(
      [log, asked, rows, type, grid, result](const std::atomic<bool>& cancel,
                                            const BackgroundTask::Progress& progress) {
        *result = ComputeNoiseCurves(*log, asked.columns, rows, type, grid, cancel, progress);
      },
      [this, result, asked, log, type] {
        if (result->size() < asked.columns.size()) {
          // The curves and figures shown before stay, with the choices they were made with.
          RestoreChoices(shownChoices_);
          Report(QStringLiteral("Cancelled after %1 of %2 columns: the result shown before is kept.")
                     .arg(result->size())
                     .arg(asked.columns.size()));
          SetBusy(false);
          emit WorkEnded();
          return;
        }
        QString text = QStringLiteral("%1 at %2 samples/s")
                           .arg(StretchText())
                           .arg(Text(GeneralText(static_cast<float>(log->samplesPerSecond),
                                                 app_.DecimalSeparator())));
        const WarningLine warnings = SummariseWarnings(log->rateWarnings);
        if (!warnings.text.isEmpty()) text += QStringLiteral("; ") + warnings.text;
        Report(text);
        lblStatus->setToolTip(warnings.tooltip);
        curves_ = result;
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
  DrawNoisePlot(*plotNoise, *curves_);
  tblFigures->setRowCount(static_cast<int>(curves_->size()));
  for (size_t i = 0; i < curves_->size(); ++i) {
    const NoiseCurve& c = (*curves_)[i];
    const FigureUnits units = UnitsFor(c.kind, c.unit);
    const std::string cells[] = {c.title, FigureWithUnit(c.figures.randomWalk, units.n),
                                 FigureWithUnit(c.figures.biasInstability, units.b),
                                 FigureWithUnit(c.figures.rateRandomWalk, units.k),
                                 FigureWithUnit(c.figures.minimum, units.b)};
    for (int col = 0; col < 5; ++col) {
      auto* item = new QTableWidgetItem(Text(cells[col]));
      if (col == 0) item->setForeground(PlotColour(c.slot));
      tblFigures->setItem(static_cast<int>(i), col, item);
    }
  }
  SetBusy(task_->Running());
}

std::string frmNoise::TableCsv() const {
  std::string text = "Column,N,N unit,B,B unit,K,K unit\r\n";
  for (const NoiseCurve& c : *curves_) {
    const FigureUnits units = UnitsFor(c.kind, c.unit);
    text += c.title;
    for (const auto& [figure, unit] : {std::pair{&c.figures.randomWalk, &units.n},
                                       std::pair{&c.figures.biasInstability, &units.b},
                                       std::pair{&c.figures.rateRandomWalk, &units.k}}) {
      text += "," + FigureText(*figure, unit->factor) + "," + unit->name;
    }
    text += "\r\n";
  }
  return text;
}

std::optional<QString> frmNoise::ExportPlot(const QString& fileName) {
  return SavePlot(*plotNoise, fileName);
}

std::optional<QString> frmNoise::ExportTable(const QString& fileName) {
  const std::string text = TableCsv();
  return SaveText(fileName, [&text](const auto& append) { return append(text); });
}

std::optional<QString> frmNoise::ExportImuYaml(const QString& fileName) {
  if (!log_) return QStringLiteral("No log open");
  std::vector<AxisFigures> axes;
  // Only columns in the units the file's keys are converted from (not raw register values).
  for (const NoiseCurve& c : *curves_)
    if ((c.kind == ColumnKind::Gyro && c.unit == "deg/s") || (c.kind == ColumnKind::Accel && c.unit == "g"))
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
  QString file = AskForPlotFile(this, app_.options.dataDir, BaseName() + QStringLiteral("_adev.png"));
  if (file.isEmpty()) return;
  if (PlotFormat(file).isEmpty()) file += QStringLiteral(".png");
  if (auto error = ExportPlot(file)) {
    QMessageBox::warning(this, windowTitle(), *error);
  } else {
    Report(QStringLiteral("Plot saved as ") + file);
  }
}

void frmNoise::cmdExportTable_Click() {
  const QString file = AskForSaveFile(this, app_.options.dataDir, QStringLiteral("Export Table"),
                                      BaseName() + QStringLiteral("_noise.csv"),
                                      QStringLiteral("CSV (*.csv);;All files (*)"));
  if (file.isEmpty()) return;
  if (auto error = ExportTable(file)) {
    QMessageBox::warning(this, windowTitle(), *error);
  } else {
    Report(QStringLiteral("Table saved as ") + file);
  }
}

void frmNoise::cmdExportYaml_Click() {
  const QString file = AskForSaveFile(this, app_.options.dataDir, QStringLiteral("Export imu.yaml"),
                                      QStringLiteral("imu.yaml"),
                                      QStringLiteral("YAML (*.yaml *.yml);;All files (*)"));
  if (file.isEmpty()) return;
  if (auto error = ExportImuYaml(file)) QMessageBox::warning(this, windowTitle(), *error);
}

}  // namespace pemra
