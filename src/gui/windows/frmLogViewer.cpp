#include "gui/windows/frmLogViewer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDataStream>
#include <QDropEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QMimeData>
#include <QScrollArea>
#include <QSplitter>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <malloc.h>

#include <algorithm>
#include <cmath>

#include "analysis/DerivedSeries.h"
#include "analysis/LogView.h"
#include "core/ShownText.h"
#include "core/NumberText.h"
#include "gui/kit/AnalysisWindow.h"
#include "gui/kit/Application.h"
#include "gui/kit/BackgroundTask.h"
#include "gui/kit/LogPlots.h"
#include "gui/kit/NamedWidget.h"
#include "gui/kit/PlotExport.h"

namespace pemra {

namespace {

constexpr int64_t kCsvChunkRows = 65536;
// A press this close to a cursor (in pixels) takes it.
constexpr double kCursorGrab = 6;
// The keyboard's steps: an arrow pans a tenth of the view, + and - zoom by two.
constexpr double kPanStep = 0.1;
constexpr double kZoomStep = 2;
// The XY plot draws at most about this many points per column (every k-th row beyond).
constexpr int64_t kXYPoints = 200000;

// The statistics table's columns.
enum StatColumn { kColumn, kUnit, kAt1, kAt2, kDifference, kMean, kDeviation, kRms, kMin, kMax, kStatColumns };

// Text from a file or a name, made safe to show (control bytes escaped, length cut).
QString Text(const std::string& text) {
  return QString::fromStdString(ShownText(text, kShownMessage));
}

}  // namespace

frmLogViewer::frmLogViewer(Application& app, QWidget* parent) : QDialog(parent), app_(app) {
  SetUpAnalysisWindow(*this, "frmLogViewer", QStringLiteral("Log Viewer"));
  task_ = new BackgroundTask(this);

  cmdOpen = Named<QPushButton>("cmdOpen", QStringLiteral("Open..."));
  cmdResetView = Named<QPushButton>("cmdResetView", QStringLiteral("Reset View"));
  cmdExportPlot = Named<QPushButton>("cmdExportPlot", QStringLiteral("Export View..."));
  cmdExportCsv = Named<QPushButton>("cmdExportCsv", QStringLiteral("Export CSV..."));
  cmdNoise = Named<QPushButton>("cmdNoise", QStringLiteral("Noise..."));
  chkCursors = Named<QCheckBox>("chkCursors", QStringLiteral("Cursors"));
  chkLegend = Named<QCheckBox>("chkLegend", QStringLiteral("Legend"));
  chkLegend->setChecked(true);
  lblRate = Named<QLabel>("lblRate", QStringLiteral("Rate (samples/s)"));
  txtRate = Named<QLineEdit>("txtRate");
  txtRate->setMaximumWidth(txtRate->fontMetrics().horizontalAdvance(QStringLiteral("0000000.000")));
  txtRate->setToolTip(QStringLiteral("The files tell no sample rate: give it to draw the rows against time"));
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {cmdOpen, cmdResetView, cmdExportPlot, cmdExportCsv, cmdNoise})
    buttons->addWidget(b);
  buttons->addWidget(chkCursors);
  buttons->addWidget(chkLegend);
  buttons->addWidget(lblRate);
  buttons->addWidget(txtRate);
  buttons->addStretch(1);

  lstColumns = Named<QListWidget>("lstColumns");
  plotLog = Named<QCustomPlot>("plotLog");
  plotLog->setMinimumSize(200, 120);
  plotLog->setFocusPolicy(Qt::StrongFocus);
  plotLog->installEventFilter(this);
  timePlot_ = new LogTimePlot(*plotLog, this);
  lblCursor = Named<QLabel>("lblCursor");
  lblCursors = Named<QLabel>("lblCursors");
  for (QLabel* label : {lblCursor, lblCursors}) {
    // Many columns wrap onto more lines rather than being cut off.
    label->setMinimumWidth(1);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  lblCursors->hide();
  auto* plotSide = new QWidget;
  auto* plotLayout = new QVBoxLayout(plotSide);
  plotLayout->setContentsMargins(0, 0, 0, 0);
  // Each stack keeps the height its axis needs; where the window is too low for all of
  // them, the plot scrolls rather than squeezing them together.
  scrPlot = Named<QScrollArea>("scrPlot");
  scrPlot->setWidget(plotLog);
  scrPlot->setWidgetResizable(true);
  scrPlot->setFrameShape(QFrame::NoFrame);
  scrPlot->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  plotLayout->addWidget(scrPlot, 1);
  plotXY = Named<QCustomPlot>("plotXY");
  plotXY->setMinimumSize(200, 120);
  plotXY->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  plotXY->hide();
  plotLayout->addWidget(plotXY, 1);
  plotLayout->addWidget(lblCursor);
  plotLayout->addWidget(lblCursors);
  tblStatistics = AnalysisTable(
      "tblStatistics", {QStringLiteral("Column"), QStringLiteral("Unit"), QStringLiteral("At 1"),
                        QStringLiteral("At 2"), QStringLiteral("Difference"), QStringLiteral("Mean"),
                        QStringLiteral("Std Dev"), QStringLiteral("RMS"), QStringLiteral("Min"),
                        QStringLiteral("Max")});

  const ProgressRow progress =
      LayOutAnalysisWindow(*this, *task_, buttons, lstColumns, plotSide, tblStatistics, "prgRead");
  // Under the column list: the derived series and the XY plot's column.
  lblDerive = Named<QLabel>("lblDerive", QStringLiteral("Derive from the selected column:"));
  lblDerive->setWordWrap(true);
  cboDerive = Named<QComboBox>("cboDerive");
  cboDerive->addItems({QStringLiteral("Integral"), QStringLiteral("Moving average"),
                       QStringLiteral("Scale and offset")});
  cboDerive->setToolTip(QStringLiteral("Integral over time (trapezoid rule, 0 at the first row): "
                                       "deg/s to deg, g to m/s (1 g = 9.80665 m/s^2)"));
  lblDeriveWindow = Named<QLabel>("lblDeriveWindow", QStringLiteral("Rows"));
  txtDeriveWindow = Named<QLineEdit>("txtDeriveWindow");
  txtDeriveWindow->setText(QStringLiteral("10"));
  txtDeriveWindow->setToolTip(QStringLiteral("The moving average's window: the mean of the last N rows"));
  lblDeriveScale = Named<QLabel>("lblDeriveScale", QStringLiteral("Scale"));
  txtDeriveScale = Named<QLineEdit>("txtDeriveScale");
  txtDeriveScale->setText(QStringLiteral("1"));
  lblDeriveOffset = Named<QLabel>("lblDeriveOffset", QStringLiteral("Offset"));
  txtDeriveOffset = Named<QLineEdit>("txtDeriveOffset");
  txtDeriveOffset->setText(QStringLiteral("0"));
  cmdDerive = Named<QPushButton>("cmdDerive", QStringLiteral("Add Series"));
  cmdDerive->setAutoDefault(false);  // Return in a field is not a click
  chkXY = Named<QCheckBox>("chkXY", QStringLiteral("XY"));
  chkXY->setToolTip(QStringLiteral("Draw the checked columns against one column instead of time"));
  lblXColumn = Named<QLabel>("lblXColumn", QStringLiteral("X"));
  cboXColumn = Named<QComboBox>("cboXColumn");
  cboXColumn->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  cboXColumn->setMinimumContentsLength(8);
  auto* form = new QFormLayout;
  form->setContentsMargins(0, 0, 0, 0);
  form->addRow(cboDerive);
  form->addRow(lblDeriveWindow, txtDeriveWindow);
  form->addRow(lblDeriveScale, txtDeriveScale);
  form->addRow(lblDeriveOffset, txtDeriveOffset);
  form->addRow(cmdDerive);
  auto* xy = new QHBoxLayout;
  xy->addWidget(chkXY);
  xy->addWidget(lblXColumn);
  xy->addWidget(cboXColumn, 1);
  auto* side = new QWidget;
  auto* sideLayout = new QVBoxLayout(side);
  sideLayout->setContentsMargins(0, 0, 0, 0);
  // As narrow as the list wants to be: the plot takes the rest of the width.
  side->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
  if (auto* split = qobject_cast<QSplitter*>(lstColumns->parentWidget())) {
    split->replaceWidget(0, side);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({side->sizeHint().width(), 1 << 20});
  }
  sideLayout->addWidget(lstColumns, 1);
  sideLayout->addWidget(lblDerive);
  sideLayout->addLayout(form);
  sideLayout->addLayout(xy);
  lstColumns->setDragEnabled(true);
  lstColumns->setDragDropMode(QAbstractItemView::DragOnly);
  plotLog->setAcceptDrops(true);
  prgRead = progress.bar;
  cmdCancel = progress.cancel;
  lblStatus = progress.status;

  connect(cmdOpen, &QPushButton::clicked, this, &frmLogViewer::cmdOpen_Click);
  connect(cmdResetView, &QPushButton::clicked, this, &frmLogViewer::cmdResetView_Click);
  connect(cmdExportPlot, &QPushButton::clicked, this, &frmLogViewer::cmdExportPlot_Click);
  connect(cmdExportCsv, &QPushButton::clicked, this, &frmLogViewer::cmdExportCsv_Click);
  connect(cmdNoise, &QPushButton::clicked, this, &frmLogViewer::cmdNoise_Click);
  connect(chkCursors, &QCheckBox::toggled, this, &frmLogViewer::chkCursors_Toggled);
  connect(chkLegend, &QCheckBox::toggled, this, &frmLogViewer::chkLegend_Toggled);
  connect(txtRate, &QLineEdit::editingFinished, this, &frmLogViewer::txtRate_EditingFinished);
  connect(lstColumns, &QListWidget::itemChanged, this, &frmLogViewer::lstColumns_ItemChanged);
  connect(timePlot_, &LogTimePlot::VisibleRowsChanged, this, &frmLogViewer::ShowStatistics);
  connect(plotLog, &QCustomPlot::mousePress, this, &frmLogViewer::PlotPress);
  connect(plotLog, &QCustomPlot::mouseMove, this, &frmLogViewer::PlotMove);
  connect(plotLog, &QCustomPlot::mouseRelease, this, &frmLogViewer::PlotRelease);
  connect(plotLog, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent* event) {
    if (!chkCursors->isChecked() || !Log()) return;
    const double t = plotLog->xAxis->pixelToCoord(event->position().x());
    SetCursor(std::fabs(t - cursors_[0]) <= std::fabs(t - cursors_[1]) ? 0 : 1, t);
  });
  connect(plotLog, &QCustomPlot::mouseWheel, this, [this](QWheelEvent* event) {
    const auto mods = event->modifiers();
    timePlot_->SetWheelZoom(mods & Qt::ControlModifier ? Qt::Horizontal | Qt::Vertical
                            : mods & Qt::ShiftModifier ? Qt::Vertical
                                                       : Qt::Horizontal);
  });
  connect(task_, &BackgroundTask::RunningChanged, this, &frmLogViewer::SetBusy);
  connect(cboDerive, qOverload<int>(&QComboBox::currentIndexChanged), this,
          &frmLogViewer::cboDerive_Changed);
  connect(cmdDerive, &QPushButton::clicked, this, &frmLogViewer::cmdDerive_Click);
  connect(chkXY, &QCheckBox::toggled, this, &frmLogViewer::chkXY_Toggled);
  connect(cboXColumn, qOverload<int>(&QComboBox::currentIndexChanged), this,
          &frmLogViewer::cboXColumn_Changed);

  SetBusy(false);
  Report(QStringLiteral("No log open: \"Open...\" reads the files of a session."));
  timePlot_->SetLog(nullptr);
  lblRate->hide();
  txtRate->hide();
  tblStatistics->setColumnHidden(kAt1, true);
  tblStatistics->setColumnHidden(kAt2, true);
  tblStatistics->setColumnHidden(kDifference, true);
  cboDerive_Changed(0);
  chkXY_Toggled(false);
}

frmLogViewer::~frmLogViewer() {
  task_->Stop();
  ReleaseLog();
}

void frmLogViewer::done(int result) {
  // Closed (the close button, Escape): the log goes with the window.
  task_->Stop();
  ReleaseLog();
  QDialog::done(result);
}

void frmLogViewer::ReleaseLog() {
  if (!Log()) return;
  // The log is given back, unless the noise window analyses it; and the program's memory
  // with it, so opening it again needs no more than the first time. Nothing else may then
  // analyse it unasked.
  if (app_.openLog == Log()) {
    app_.openLog.reset();
    app_.openRows = {};
  }
  hover_.reset();
  timePlot_->SetLog(nullptr);
  lstColumns->clear();
  cboXColumn->clear();
  plotXY->clearGraphs();
  plotXY->replot();
  tblStatistics->setRowCount(0);
  lblCursor->clear();
  lblCursors->clear();
  setWindowTitle(QStringLiteral("Log Viewer"));
  Report(QStringLiteral("No log open: \"Open...\" reads the files of a session."));
  SetBusy(false);
  malloc_trim(0);
}

std::function<void(QWidget*)> frmLogViewer::Opener(Application& app) {
  auto kept = std::make_shared<QPointer<frmLogViewer>>();
  return [&app, kept](QWidget* parent) {
    const bool first = *kept == nullptr;
    if (first) {
      *kept = new frmLogViewer(app, parent);
      (*kept)->setAttribute(Qt::WA_DeleteOnClose);
    }
    ShowAnalysisWindow(**kept, first);
    (*kept)->cmdOpen_Click();
  };
}

const std::shared_ptr<const LoadedLog>& frmLogViewer::Log() const { return timePlot_->Log(); }

bool frmLogViewer::Reading() const { return task_->Running(); }

QString frmLogViewer::Number(double value) const {
  if (std::isnan(value)) return QStringLiteral("-");
  return Text(GeneralText(static_cast<float>(value), app_.DecimalSeparator()));
}

void frmLogViewer::Report(const QString& text) {
  lblStatus->setText(text);
  lblStatus->setToolTip(QString());
}

void frmLogViewer::SetBusy(bool busy) {
  const bool shown = Log() != nullptr;
  cmdOpen->setEnabled(!busy);
  cmdResetView->setEnabled(shown);
  cmdExportPlot->setEnabled(shown);
  cmdExportCsv->setEnabled(shown && !busy);
  cmdNoise->setEnabled(shown && static_cast<bool>(app_.windows.Noise));
  chkCursors->setEnabled(shown);
  txtRate->setEnabled(!busy);
  cmdDerive->setEnabled(shown && !busy);
  chkXY->setEnabled(shown);
}

void frmLogViewer::cmdOpen_Click() {
  if (task_->Running()) return;
  const QStringList files = AskForLogFiles(this, app_.options.dataDir);
  if (!files.isEmpty()) OpenFiles(files);
}

void frmLogViewer::OpenFiles(const QStringList& files) {
  QStringList names;
  for (const QString& f : files) names << QFileInfo(f).fileName();
  Report(QStringLiteral("Reading %1...").arg(names.join(QStringLiteral(", "))));
  LoadLogInBackground(*task_, files, [this](std::shared_ptr<const LoadedLog> log,
                                            std::optional<LogError> error) {
    if (error && error->cancelled) {
      Report(Log() ? QStringLiteral("Reading cancelled: the log shown is unchanged.")
                   : QStringLiteral("Reading cancelled: no log open."));
    } else if (error) {
      Report(QStringLiteral("Not read: ") + Text(error->Text()));
      QMessageBox::warning(this, windowTitle(), Text(error->Text()));
    } else if (!log->gaps.empty() && !JoinAsked(*log)) {
      const SessionGap& gap = log->gaps.front();
      Report(QStringLiteral("Not read: ") +
             Text(log->layout.files[gap.file].path.string() + ": " + gap.reason +
                  ": not one session"));
    } else {
      ShowLog(std::move(log));
    }
    emit WorkEnded();
  });
}

bool frmLogViewer::JoinAsked(const LoadedLog& log) {
  QString text;
  for (const SessionGap& gap : log.gaps)
    text += Text(log.layout.files[gap.file].path.filename().string() + ": " + gap.reason) +
            QStringLiteral("\n");
  return QMessageBox::question(this, windowTitle(),
                               text + QStringLiteral("\nThese files are not one session. Join "
                                                     "them as one series, with each gap shown?"),
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void frmLogViewer::ShowLog(std::shared_ptr<const LoadedLog> log) {
  app_.openLog = log;
  app_.openRows = {};
  const LoadedLog& l = *log;
  // What was read out of the log shown before goes with it.
  hover_.reset();
  dragging_ = -1;
  const std::vector<size_t> checked = Log() && Log()->series.columns == l.series.columns
                                          ? timePlot_->Shown()
                                          : std::vector<size_t>{};
  timePlot_->SetLog(log);
  FillColumnList(*lstColumns, l);
  FillXColumns();
  if (!checked.empty()) {
    const QSignalBlocker quiet(lstColumns);
    for (int i = 0; i < lstColumns->count(); ++i)
      lstColumns->item(i)->setCheckState(
          std::find(checked.begin(), checked.end(), static_cast<size_t>(i)) != checked.end() ? Qt::Checked
                                                                                               : Qt::Unchecked);
  }
  lstColumns_ItemChanged();
  timePlot_->ResetView();
  const bool noRate = l.samplesPerSecond <= 0;
  lblRate->setVisible(noRate || l.rateSource == RateSource::Given);
  txtRate->setVisible(lblRate->isVisible());
  if (!noRate && l.rateSource != RateSource::Given) txtRate->clear();
  QString rate;
  if (!noRate) {
    rate = QStringLiteral("%1 samples/s (%2)")
               .arg(Number(l.samplesPerSecond), Text(std::string(RateSourceText(l.rateSource))));
  } else {
    rate = QStringLiteral("no sample rate (%1): drawn against the row; give the rate in \"Rate (samples/s)\"")
               .arg(Text(l.rateProblem));
  }
  QString text = QStringLiteral("%1: %2 rows, %3").arg(Text(l.Name())).arg(l.Rows()).arg(rate);
  const WarningLine warnings = SummariseWarnings(l.rateWarnings);
  if (!warnings.text.isEmpty()) text += QStringLiteral("; ") + warnings.text;
  Report(text);
  lblStatus->setToolTip(warnings.tooltip);
  setWindowTitle(QStringLiteral("Log Viewer - ") + Text(l.Name()));
  if (chkCursors->isChecked()) chkCursors_Toggled(true);  // new cursors in the new view
  ShowHover();
  SetBusy(task_->Running());
}

void frmLogViewer::txtRate_EditingFinished() {
  const auto& log = Log();
  if (!log || task_->Running()) return;
  QString text = txtRate->text().trimmed();
  text.replace(QChar::fromLatin1(app_.DecimalSeparator()), QLatin1Char('.'));
  bool ok = false;
  const double rate = text.toDouble(&ok);
  if (text.isEmpty()) return;
  if (!ok || !(rate > 0) || !std::isfinite(rate)) {
    Report(QStringLiteral("\"%1\" is not a number of samples per second above 0").arg(txtRate->text()));
    return;
  }
  if (log->samplesPerSecond == rate) return;
  // A copy with the rate given: the log shown may be in use by the noise window.
  auto given = std::make_shared<LoadedLog>(*log);
  given->samplesPerSecond = rate;
  given->rateSource = RateSource::Given;
  given->rateProblem.clear();
  RecomputeDerivedColumns(*given);  // an integral over time follows the rate
  ShowLog(std::move(given));
}

void frmLogViewer::lstColumns_ItemChanged() {
  timePlot_->Show(CheckedSlots(*lstColumns));
  FitPlotHeight();
  ShowHover();
  if (chkXY->isChecked()) DrawXY();
}

void frmLogViewer::FitPlotHeight() { plotLog->setMinimumHeight(timePlot_->MinimumHeight()); }

void frmLogViewer::SetChecked(const std::vector<size_t>& chosen) {
  {
    const QSignalBlocker quiet(lstColumns);
    for (int i = 0; i < lstColumns->count(); ++i)
      lstColumns->item(i)->setCheckState(
          std::find(chosen.begin(), chosen.end(), static_cast<size_t>(i)) != chosen.end() ? Qt::Checked
                                                                                         : Qt::Unchecked);
  }
  lstColumns_ItemChanged();
}

void frmLogViewer::cboDerive_Changed(int index) {
  const bool window = index == static_cast<int>(DerivedKind::MovingAverage);
  const bool scale = index == static_cast<int>(DerivedKind::ScaleOffset);
  lblDeriveWindow->setVisible(window);
  txtDeriveWindow->setVisible(window);
  for (QWidget* w : std::initializer_list<QWidget*>{lblDeriveScale, txtDeriveScale, lblDeriveOffset, txtDeriveOffset})
    w->setVisible(scale);
}

void frmLogViewer::cmdDerive_Click() {
  DerivedRecipe recipe;
  recipe.kind = static_cast<DerivedKind>(std::max(cboDerive->currentIndex(), 0));
  const auto number = [this](QLineEdit* edit, double& value) {
    QString text = edit->text().trimmed();
    text.replace(QChar::fromLatin1(app_.DecimalSeparator()), QLatin1Char('.'));
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value);
  };
  double window = 0;
  QString problem;
  if (recipe.kind == DerivedKind::MovingAverage) {
    if (!number(txtDeriveWindow, window) || window != std::floor(window) || window < 1 || window > 1e15)
      problem = QStringLiteral("\"%1\" is not a whole number of rows").arg(txtDeriveWindow->text());
    recipe.window = static_cast<long long>(window);
  } else if (recipe.kind == DerivedKind::ScaleOffset) {
    if (!number(txtDeriveScale, recipe.scale))
      problem = QStringLiteral("\"%1\" is not a number (the scale)").arg(txtDeriveScale->text());
    else if (!number(txtDeriveOffset, recipe.offset))
      problem = QStringLiteral("\"%1\" is not a number (the offset)").arg(txtDeriveOffset->text());
  }
  if (problem.isEmpty())
    if (auto error = AddDerived(recipe)) problem = *error;
  if (!problem.isEmpty()) Report(QStringLiteral("No series added: ") + problem);
}

std::optional<QString> frmLogViewer::AddDerived(const DerivedRecipe& recipe) {
  const std::shared_ptr<const LoadedLog> log = Log();
  if (!log) return QStringLiteral("no log open");
  if (task_->Running()) return QStringLiteral("wait for the work under way to end");
  const int row = lstColumns->currentRow();
  if (row < 0 || row >= lstColumns->count())
    return QStringLiteral("select the column to derive from in the list");
  const auto source = static_cast<size_t>(row);
  // The log grows in place when nothing but this window holds it (no export under way, no
  // noise window analysing it); else the column goes to a copy, and the others keep theirs.
  const long own = 2 + (app_.openLog == log ? 1 : 0);  // `log`, the plot's and the app's
  std::shared_ptr<LoadedLog> next = log.use_count() == own
                                        ? std::const_pointer_cast<LoadedLog>(log)
                                        : std::make_shared<LoadedLog>(*log);
  size_t slot = 0;
  if (auto error = AddDerivedColumn(*next, source, DataUnit(*next, source), recipe, slot))
    return Text(*error);
  std::vector<size_t> checked = timePlot_->Shown();
  checked.push_back(slot);
  const QCPRange view = plotLog->xAxis->range();
  const double cursors[2] = {cursors_[0], cursors_[1]};
  ShowLog(std::move(next));
  SetChecked(checked);
  cursors_[0] = cursors[0];
  cursors_[1] = cursors[1];
  plotLog->xAxis->setRange(view);
  lstColumns->setCurrentRow(static_cast<int>(slot));
  ShowStatistics();
  Report(QStringLiteral("Added %1 (%2)").arg(Text(Log()->ColumnTitle(slot)), Text(DataUnit(*Log(), slot))));
  return std::nullopt;
}

void frmLogViewer::DropColumn(size_t slot, QPointF pos) {
  const auto& log = Log();
  if (!log || slot >= log->series.values.size()) return;
  std::vector<size_t> checked = timePlot_->Shown();
  const bool already = std::find(checked.begin(), checked.end(), slot) != checked.end();
  if (!already) checked.push_back(slot);
  std::sort(checked.begin(), checked.end());
  // The value axis of the stack it was dropped on, before the stacks change.
  const QCPAxisRect* target = timePlot_->StackAt(pos);
  const QString dropped = target ? target->axis(QCPAxis::atLeft)->label() : QString();
  if (!already) SetChecked(checked);
  const QString unit = Text(DataUnit(*log, slot));
  const QString stack = StackTitle(DataUnit(*log, slot));
  QString text = QStringLiteral("%1 drawn in %2").arg(Text(log->ColumnTitle(slot)), stack);
  if (!dropped.isEmpty() && dropped != stack && !already)
    text += QStringLiteral(" (each stack holds one unit: %1 is not %2)").arg(unit, dropped);
  if (already) text = QStringLiteral("%1 is drawn already, in %2").arg(Text(log->ColumnTitle(slot)), stack);
  Report(text);
}

void frmLogViewer::FillXColumns() {
  const QSignalBlocker quiet(cboXColumn);
  const QString before = cboXColumn->currentText();
  cboXColumn->clear();
  const auto& log = Log();
  if (!log) return;
  int temperature = -1;
  for (size_t slot = 0; slot < log->series.values.size(); ++slot) {
    cboXColumn->addItem(Text(log->ColumnTitle(slot)));
    if (temperature < 0 && DataUnit(*log, slot) == "degC") temperature = static_cast<int>(slot);
  }
  // The temperature first: what a bias is most often drawn against.
  const int kept = cboXColumn->findText(before);
  cboXColumn->setCurrentIndex(kept >= 0 ? kept : std::max(temperature, 0));
}

void frmLogViewer::chkXY_Toggled(bool on) {
  scrPlot->setVisible(!on);
  plotXY->setVisible(on);
  lblXColumn->setEnabled(on);
  cboXColumn->setEnabled(on);
  if (on) DrawXY();
}

void frmLogViewer::cboXColumn_Changed(int) {
  if (chkXY->isChecked()) DrawXY();
}

int64_t frmLogViewer::XYStep() const {
  const RowRange rows = Stretch();
  return std::max<int64_t>(1, (rows.count + kXYPoints - 1) / kXYPoints);
}

void frmLogViewer::DrawXY() {
  plotXY->clearGraphs();
  const auto& log = Log();
  const int x = cboXColumn->currentIndex();
  if (!log || x < 0 || static_cast<size_t>(x) >= log->series.values.size()) {
    plotXY->replot();
    return;
  }
  const RowRange rows = Stretch();
  const int64_t step = XYStep();
  const std::vector<double>& xs = log->series.values[static_cast<size_t>(x)];
  std::vector<std::string> units;
  for (size_t slot : timePlot_->Shown()) {
    if (slot == static_cast<size_t>(x)) continue;
    const std::vector<double>& ys = log->series.values[slot];
    QVector<QCPGraphData> points;
    points.reserve(static_cast<int>(rows.count / step + 1));
    for (int64_t r = rows.first; r < rows.End(); r += step)
      points.append(QCPGraphData(xs[static_cast<size_t>(r)], ys[static_cast<size_t>(r)]));
    QCPGraph* graph = plotXY->addGraph();
    graph->data()->set(points, false);
    graph->setLineStyle(QCPGraph::lsNone);
    graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, PlotColour(slot), 3));
    graph->setAdaptiveSampling(false);
    graph->setName(Text(log->ColumnTitle(slot)));
    const std::string unit = DataUnit(*log, slot);
    if (std::find(units.begin(), units.end(), unit) == units.end()) units.push_back(unit);
  }
  const std::string xUnit = DataUnit(*log, static_cast<size_t>(x));
  plotXY->xAxis->setLabel(Text(log->ColumnTitle(static_cast<size_t>(x))) +
                          (xUnit.empty() ? QString() : QStringLiteral(" (%1)").arg(Text(xUnit))));
  plotXY->yAxis->setLabel(units.size() == 1 ? StackTitle(units.front())
                          : units.empty()   ? QString()
                                            : QStringLiteral("Value"));
  plotXY->legend->setVisible(plotXY->graphCount() > 0 && chkLegend->isChecked());
  plotXY->rescaleAxes();
  plotXY->replot();
  plotXY->setToolTip(QStringLiteral("Rows %1 to %2%3")
                         .arg(rows.first + 1)
                         .arg(rows.End())
                         .arg(step > 1 ? QStringLiteral(", every %1th row").arg(step) : QString()));
}

int64_t frmLogViewer::RowAt(double seconds) const {
  const auto& log = Log();
  if (!log || log->Rows() == 0) return -1;
  const double rate = log->samplesPerSecond > 0 ? log->samplesPerSecond : 1.0;
  return static_cast<int64_t>(std::clamp(std::round(seconds * rate), 0.0, static_cast<double>(log->Rows() - 1)));
}

RowRange frmLogViewer::Stretch() const {
  const auto& log = Log();
  if (!log) return {};
  if (!chkCursors->isChecked()) return timePlot_->VisibleRows();
  return log->VisibleRows(std::min(cursors_[0], cursors_[1]), std::max(cursors_[0], cursors_[1]));
}

void frmLogViewer::ShowStatistics() {
  const auto& log = Log();
  const std::vector<size_t>& chosen = timePlot_->Shown();
  tblStatistics->setRowCount(log ? static_cast<int>(chosen.size()) : 0);
  if (!log) return;
  const RowRange rows = Stretch();
  const bool cursors = chkCursors->isChecked();
  const int64_t at1 = RowAt(cursors_[0]);
  const int64_t at2 = RowAt(cursors_[1]);
  for (size_t i = 0; i < chosen.size(); ++i) {
    const size_t slot = chosen[i];
    const std::vector<double>& values = log->series.values[slot];
    const ColumnStatistics s = log->summaries[slot].Statistics(values, rows);
    QString cells[kStatColumns];
    cells[kColumn] = Text(log->ColumnTitle(slot));
    cells[kUnit] = Text(DataUnit(*log, slot));
    if (cursors && at1 >= 0) {
      const double v1 = values[static_cast<size_t>(at1)];
      const double v2 = values[static_cast<size_t>(at2)];
      cells[kAt1] = Number(v1);
      cells[kAt2] = Number(v2);
      cells[kDifference] = Number(v2 - v1);
    }
    cells[kMean] = Number(s.mean);
    cells[kDeviation] = Number(s.deviation);
    cells[kRms] = Number(s.rms);
    cells[kMin] = Number(s.min);
    cells[kMax] = Number(s.max);
    for (int c = 0; c < kStatColumns; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      if (c == kColumn) item->setForeground(PlotColour(slot));
      if (c >= kAt1) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      tblStatistics->setItem(static_cast<int>(i), c, item);
    }
  }
  tblStatistics->setToolTip(QStringLiteral("Rows %1 to %2 (%3 %4)")
                                .arg(rows.first + 1)
                                .arg(rows.End())
                                .arg(rows.count)
                                .arg(cursors ? QStringLiteral("between the cursors") : QStringLiteral("in view")));
  if (cursors) ShowCursors();
}

void frmLogViewer::ShowHover() {
  const auto& log = Log();
  if (!log || log->Rows() == 0 || !hover_) {
    lblCursor->clear();
    UpdateMarkers(false);
    return;
  }
  const int64_t row = RowAt(*hover_);
  const double t = log->RowTime(row);
  QString text = log->samplesPerSecond > 0
                     ? QStringLiteral("t = %1 s (row %2)").arg(Number(t)).arg(row + 1)
                     : QStringLiteral("row %1").arg(row + 1);
  for (size_t slot : timePlot_->Shown())
    text += QStringLiteral("   %1 %2").arg(Text(log->ColumnTitle(slot)),
                                          Number(log->series.values[slot][static_cast<size_t>(row)]));
  lblCursor->setText(text);
  UpdateMarkers(true);
}

void frmLogViewer::UpdateMarkers(bool withHover) {
  std::vector<TimeMarker> markers;
  const auto& log = Log();
  if (log && withHover && hover_) markers.push_back({log->RowTime(RowAt(*hover_)), QPen(QColor(90, 90, 90), 1, Qt::DotLine)});
  if (log && chkCursors->isChecked())
    for (double c : cursors_) markers.push_back({c, QPen(QColor(0, 0, 0), 1, Qt::DashLine)});
  timePlot_->SetMarkers(std::move(markers));
}

void frmLogViewer::ShowCursors() {
  const auto& log = Log();
  if (!log || !chkCursors->isChecked()) return;
  const bool timed = log->samplesPerSecond > 0;
  const auto at = [&](int c) {
    const int64_t row = RowAt(cursors_[c]);
    return timed ? QStringLiteral("%1 s (row %2)").arg(Number(cursors_[c])).arg(row + 1)
                 : QStringLiteral("row %1").arg(row + 1);
  };
  const RowRange rows = Stretch();
  const double dt = cursors_[1] - cursors_[0];
  QString text = QStringLiteral("Cursor 1: %1   Cursor 2: %2   Difference: %3")
                     .arg(at(0), at(1), timed ? Number(dt) + QStringLiteral(" s") : Number(dt) + QStringLiteral(" rows"));
  if (timed && dt != 0) text += QStringLiteral(" (1/dt = %1 Hz)").arg(Number(1 / std::fabs(dt)));
  text += QStringLiteral("   %1 rows between").arg(rows.count);
  lblCursors->setText(text);
  UpdateMarkers(true);
}

void frmLogViewer::SetCursor(int cursor, double seconds) {
  const auto& log = Log();
  if (!log || cursor < 0 || cursor > 1) return;
  cursors_[cursor] = log->RowTime(RowAt(seconds));
  ShowStatistics();
}

void frmLogViewer::chkCursors_Toggled(bool on) {
  lblCursors->setVisible(on);
  for (int c : {kAt1, kAt2, kDifference}) tblStatistics->setColumnHidden(c, !on);
  if (on && Log()) {
    // At a quarter and three quarters of the view.
    const QCPRange range = plotLog->xAxis->range();
    cursors_[0] = Log()->RowTime(RowAt(range.lower + range.size() / 4));
    cursors_[1] = Log()->RowTime(RowAt(range.lower + range.size() * 3 / 4));
  }
  ShowStatistics();
  ShowHover();
}

void frmLogViewer::chkLegend_Toggled(bool on) { timePlot_->SetLegendVisible(on); }

void frmLogViewer::PlotPress(QMouseEvent* event) {
  // A drag pans; with the right button or Ctrl held it draws the box to zoom into; on a
  // cursor it moves the cursor.
  plotLog->setFocus(Qt::MouseFocusReason);
  const bool box = event->button() == Qt::RightButton || (event->modifiers() & Qt::ControlModifier);
  plotLog->setSelectionRectMode(box ? QCP::srmZoom : QCP::srmNone);
  if (box || event->button() != Qt::LeftButton || !chkCursors->isChecked() || !Log()) return;
  const double x = event->position().x();
  for (int c = 0; c < 2; ++c)
    if (std::fabs(plotLog->xAxis->coordToPixel(cursors_[c]) - x) <= kCursorGrab) {
      dragging_ = c;
      savedInteractions_ = plotLog->interactions().toInt();
      plotLog->setInteractions(QCP::Interactions());
      return;
    }
}

void frmLogViewer::PlotMove(QMouseEvent* event) {
  const double t = plotLog->xAxis->pixelToCoord(event->position().x());
  if (dragging_ >= 0) {
    SetCursor(dragging_, t);
    return;
  }
  hover_ = t;
  ShowHover();
}

void frmLogViewer::PlotRelease() {
  if (dragging_ < 0) return;
  dragging_ = -1;
  plotLog->setInteractions(QCP::Interactions::fromInt(savedInteractions_));
}

bool frmLogViewer::eventFilter(QObject* watched, QEvent* event) {
  if (watched == plotLog && (event->type() == QEvent::DragEnter || event->type() == QEvent::Drop)) {
    // A column dragged from the list onto the plot.
    auto* drop = static_cast<QDropEvent*>(event);
    const QString kind = QStringLiteral("application/x-qabstractitemmodeldatalist");
    if (!drop->mimeData()->hasFormat(kind)) return false;
    drop->acceptProposedAction();
    if (event->type() == QEvent::Drop) {
      QByteArray bytes = drop->mimeData()->data(kind);
      QDataStream stream(&bytes, QIODevice::ReadOnly);
      int row = -1, column = 0;
      QMap<int, QVariant> roles;
      stream >> row >> column >> roles;
      if (row >= 0) DropColumn(static_cast<size_t>(row), drop->position());
    }
    return true;
  }
  if (watched == plotLog && event->type() == QEvent::Leave) {
    hover_.reset();
    ShowHover();
  }
  if (watched != plotLog || event->type() != QEvent::KeyPress || !Log()) return QDialog::eventFilter(watched, event);
  switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Left: timePlot_->Pan(-kPanStep); return true;
    case Qt::Key_Right: timePlot_->Pan(kPanStep); return true;
    case Qt::Key_PageUp: timePlot_->Pan(-1); return true;
    case Qt::Key_PageDown: timePlot_->Pan(1); return true;
    case Qt::Key_Plus:
    case Qt::Key_Equal: timePlot_->Zoom(kZoomStep); return true;
    case Qt::Key_Minus: timePlot_->Zoom(1 / kZoomStep); return true;
    case Qt::Key_Home: timePlot_->ResetView(); return true;
    default: return QDialog::eventFilter(watched, event);
  }
}

void frmLogViewer::cmdResetView_Click() { timePlot_->ResetView(); }

std::optional<QString> frmLogViewer::NothingChecked() const {
  if (!Log()) return QStringLiteral("No log open");
  if (timePlot_->Shown().empty()) return QStringLiteral("No column checked: check the columns to export.");
  return std::nullopt;
}

std::optional<QString> frmLogViewer::ExportPlot(const QString& fileName) {
  if (auto refused = NothingChecked()) return refused;
  // The hover line is the mouse's, not part of the view; the cursors stay.
  UpdateMarkers(false);
  return SavePlot(*plotLog, fileName);
}

void frmLogViewer::cmdExportPlot_Click() {
  const auto& log = Log();
  if (!log) return;
  if (auto refused = NothingChecked()) {
    QMessageBox::warning(this, windowTitle(), *refused);
    return;
  }
  QString file = AskForPlotFile(this, app_.options.dataDir,
                                QFileInfo(QFile::decodeName(log->layout.files.front().path.c_str())).completeBaseName() +
                                    QStringLiteral(".png"));
  if (file.isEmpty()) return;
  if (PlotFormat(file).isEmpty()) file += QStringLiteral(".png");
  if (auto error = ExportPlot(file)) {
    QMessageBox::warning(this, windowTitle(), *error);
  } else {
    Report(QStringLiteral("View saved as ") + file);
  }
}

std::optional<QString> frmLogViewer::ExportCsv(const QString& fileName) {
  const auto log = Log();
  if (auto refused = NothingChecked()) return refused;
  if (task_->Running()) return QStringLiteral("Wait for the work under way to end");
  const std::vector<size_t> chosen = timePlot_->Shown();
  const RowRange rows = Stretch();
  struct Outcome {
    std::optional<QString> error;
    bool cancelled = false;
  };
  auto result = std::make_shared<Outcome>();
  Report(QStringLiteral("Writing %1...").arg(fileName));
  task_->Start(
      [log, chosen, rows, fileName, result](const std::atomic<bool>& cancel,
                                           const BackgroundTask::Progress& progress) {
        result->error = SaveText(fileName, [&](const std::function<bool(const std::string&)>& append) {
          if (!append(RowsCsvTitle(*log, chosen))) return false;
          std::string chunk;
          for (int64_t done = 0; done < rows.count; done += kCsvChunkRows) {
            if (cancel) return false;
            chunk.clear();
            const RowRange part{rows.first + done, std::min(kCsvChunkRows, rows.count - done)};
            // Each row keeps its number in the log.
            AppendRowsCsv(*log, chosen, part, part.first + 1, chunk);
            if (!append(chunk)) return false;
            progress(static_cast<double>(done + part.count) / static_cast<double>(rows.count));
          }
          return true;
        });
        result->cancelled = cancel;
      },
      [this, result, fileName, rows] {
        if (result->cancelled) {
          Report(QStringLiteral("Export cancelled: %1 was not written.").arg(fileName));
        } else if (result->error) {
          Report(*result->error);
          QMessageBox::warning(this, windowTitle(), *result->error);
        } else {
          Report(QStringLiteral("%1 rows saved as %2").arg(rows.count).arg(fileName));
        }
        emit WorkEnded();
      });
  return std::nullopt;
}

void frmLogViewer::cmdExportCsv_Click() {
  const auto& log = Log();
  if (!log) return;
  if (auto refused = NothingChecked()) {
    QMessageBox::warning(this, windowTitle(), *refused);
    return;
  }
  const QString name = QFileInfo(QFile::decodeName(log->layout.files.front().path.c_str())).completeBaseName() +
                       QStringLiteral("_view") +
                       (log->layout.fieldSeparator == '\t' ? QStringLiteral(".txt") : QStringLiteral(".csv"));
  const QString file = AskForSaveFile(this, app_.options.dataDir, QStringLiteral("Export CSV"), name,
                                      QStringLiteral("Data logs (*.csv *.txt);;All files (*)"));
  if (file.isEmpty()) return;
  if (auto error = ExportCsv(file)) QMessageBox::warning(this, windowTitle(), *error);
}

void frmLogViewer::cmdNoise_Click() {
  if (!app_.windows.Noise || !Log()) return;
  // The noise window analyses the stretch shown here: the rows between the cursors, or in view.
  app_.openLog = Log();
  app_.openRows = Stretch();
  app_.windows.Noise(parentWidget() ? parentWidget() : this);
}

}  // namespace pemra
