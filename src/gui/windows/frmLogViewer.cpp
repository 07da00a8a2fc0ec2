#include "gui/windows/frmLogViewer.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <cmath>

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
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {cmdOpen, cmdResetView, cmdExportPlot, cmdExportCsv, cmdNoise})
    buttons->addWidget(b);
  buttons->addStretch(1);

  lstColumns = Named<QListWidget>("lstColumns");
  plotLog = Named<QCustomPlot>("plotLog");
  plotLog->setMinimumSize(200, 120);
  timePlot_ = new LogTimePlot(*plotLog, this);
  cursorLine_ = new QCPItemStraightLine(plotLog);
  cursorLine_->setPen(QPen(QColor(90, 90, 90), 1, Qt::DotLine));
  cursorLine_->setVisible(false);
  lblCursor = Named<QLabel>("lblCursor");
  lblCursor->setMinimumWidth(1);
  lblCursor->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* plotSide = new QWidget;
  auto* plotLayout = new QVBoxLayout(plotSide);
  plotLayout->setContentsMargins(0, 0, 0, 0);
  plotLayout->addWidget(plotLog, 1);
  plotLayout->addWidget(lblCursor);
  tblStatistics = AnalysisTable("tblStatistics", {QStringLiteral("Column"), QStringLiteral("Unit"),
                                                  QStringLiteral("Mean"), QStringLiteral("Std Dev"),
                                                  QStringLiteral("Min"), QStringLiteral("Max")});

  const ProgressRow progress =
      LayOutAnalysisWindow(*this, *task_, buttons, lstColumns, plotSide, tblStatistics, "prgRead");
  prgRead = progress.bar;
  cmdCancel = progress.cancel;
  lblStatus = progress.status;

  connect(cmdOpen, &QPushButton::clicked, this, &frmLogViewer::cmdOpen_Click);
  connect(cmdResetView, &QPushButton::clicked, this, &frmLogViewer::cmdResetView_Click);
  connect(cmdExportPlot, &QPushButton::clicked, this, &frmLogViewer::cmdExportPlot_Click);
  connect(cmdExportCsv, &QPushButton::clicked, this, &frmLogViewer::cmdExportCsv_Click);
  connect(cmdNoise, &QPushButton::clicked, this, &frmLogViewer::cmdNoise_Click);
  connect(lstColumns, &QListWidget::itemChanged, this, &frmLogViewer::lstColumns_ItemChanged);
  connect(timePlot_, &LogTimePlot::VisibleRowsChanged, this, &frmLogViewer::ShowStatistics);
  connect(plotLog, &QCustomPlot::mousePress, this, [this](QMouseEvent* event) {
    // A drag pans; with the right button or Ctrl held it draws the box to zoom into.
    const bool box = event->button() == Qt::RightButton || (event->modifiers() & Qt::ControlModifier);
    plotLog->setSelectionRectMode(box ? QCP::srmZoom : QCP::srmNone);
  });
  connect(plotLog, &QCustomPlot::mouseWheel, this, [this](QWheelEvent* event) {
    const auto mods = event->modifiers();
    plotLog->axisRect()->setRangeZoom(mods & Qt::ControlModifier ? Qt::Horizontal | Qt::Vertical
                                      : mods & Qt::ShiftModifier ? Qt::Vertical
                                                                 : Qt::Horizontal);
  });
  connect(plotLog, &QCustomPlot::mouseMove, this, [this](QMouseEvent* event) {
    ShowCursor(plotLog->xAxis->pixelToCoord(event->position().x()));
  });
  connect(task_, &BackgroundTask::RunningChanged, this, &frmLogViewer::SetBusy);

  SetBusy(false);
  Report(QStringLiteral("No log open: \"Open...\" reads the files of a session."));
  timePlot_->SetLog(nullptr);
}

frmLogViewer::~frmLogViewer() { task_->Stop(); }

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

void frmLogViewer::Report(const QString& text) { lblStatus->setText(text); }

void frmLogViewer::SetBusy(bool busy) {
  const bool shown = Log() != nullptr;
  cmdOpen->setEnabled(!busy);
  cmdResetView->setEnabled(shown);
  cmdExportPlot->setEnabled(shown);
  cmdExportCsv->setEnabled(shown && !busy);
  cmdNoise->setEnabled(shown && static_cast<bool>(app_.windows.Noise));
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
  const LoadedLog& l = *log;
  timePlot_->SetLog(log);
  FillColumnList(*lstColumns, l);
  lstColumns_ItemChanged();
  timePlot_->ResetView();
  QString rate;
  if (l.samplesPerSecond > 0) {
    rate = QStringLiteral("%1 samples/s (%2)")
               .arg(Number(l.samplesPerSecond), Text(std::string(RateSourceText(l.rateSource))));
  } else {
    rate = QStringLiteral("no sample rate (%1): drawn against the row").arg(Text(l.rateProblem));
  }
  QString text = QStringLiteral("%1: %2 rows, %3").arg(Text(l.Name())).arg(l.Rows()).arg(rate);
  for (const std::string& warning : l.rateWarnings) text += QStringLiteral("; ") + Text(warning);
  Report(text);
  setWindowTitle(QStringLiteral("Log Viewer - ") + Text(l.Name()));
  SetBusy(false);
}

void frmLogViewer::lstColumns_ItemChanged() {
  timePlot_->Show(CheckedSlots(*lstColumns));
}

void frmLogViewer::ShowStatistics() {
  const auto& log = Log();
  const std::vector<size_t>& chosen = timePlot_->Shown();
  tblStatistics->setRowCount(log ? static_cast<int>(chosen.size()) : 0);
  if (!log) return;
  const RowRange rows = timePlot_->VisibleRows();
  for (size_t i = 0; i < chosen.size(); ++i) {
    const size_t slot = chosen[i];
    const ColumnStatistics s = log->summaries[slot].Statistics(log->series.values[slot], rows);
    const QString cells[] = {Text(log->ColumnTitle(slot)), Text(log->Column(slot).unit),
                             Number(s.mean), Number(s.deviation), Number(s.min), Number(s.max)};
    for (int c = 0; c < 6; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      if (c == 0) item->setForeground(PlotColour(slot));
      if (c >= 2) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      tblStatistics->setItem(static_cast<int>(i), c, item);
    }
  }
  tblStatistics->setToolTip(QStringLiteral("Rows %1 to %2 (%3 in view)")
                                .arg(rows.first + 1)
                                .arg(rows.End())
                                .arg(rows.count));
}

void frmLogViewer::ShowCursor(double x) {
  const auto& log = Log();
  if (!log || log->Rows() == 0) return;
  const double rate = log->samplesPerSecond > 0 ? log->samplesPerSecond : 1.0;
  const auto row = static_cast<int64_t>(
      std::clamp(std::round(x * rate), 0.0, static_cast<double>(log->Rows() - 1)));
  const double t = log->RowTime(row);
  cursorLine_->point1->setCoords(t, 0);
  cursorLine_->point2->setCoords(t, 1);
  cursorLine_->setVisible(true);
  QString text = log->samplesPerSecond > 0
                     ? QStringLiteral("t = %1 s (row %2)").arg(Number(t)).arg(row + 1)
                     : QStringLiteral("row %1").arg(row + 1);
  for (size_t slot : timePlot_->Shown())
    text += QStringLiteral("   %1 %2").arg(Text(log->ColumnTitle(slot)),
                                          Number(log->series.values[slot][static_cast<size_t>(row)]));
  lblCursor->setText(text);
  plotLog->replot(QCustomPlot::rpQueuedReplot);
}

void frmLogViewer::cmdResetView_Click() { timePlot_->ResetView(); }

std::optional<QString> frmLogViewer::ExportPlot(const QString& fileName) {
  cursorLine_->setVisible(false);
  return SavePlot(*plotLog, fileName);
}

void frmLogViewer::cmdExportPlot_Click() {
  const auto& log = Log();
  if (!log) return;
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
  if (!log) return QStringLiteral("No log open");
  if (task_->Running()) return QStringLiteral("Wait for the work under way to end");
  const std::vector<size_t> chosen = timePlot_->Shown();
  const RowRange rows = timePlot_->VisibleRows();
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
            AppendRowsCsv(*log, chosen, part, done + 1, chunk);
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
  const QString name = QFileInfo(QFile::decodeName(log->layout.files.front().path.c_str())).completeBaseName() +
                       QStringLiteral("_view") +
                       (log->layout.fieldSeparator == '\t' ? QStringLiteral(".txt") : QStringLiteral(".csv"));
  const QString file = AskForSaveFile(this, app_.options.dataDir, QStringLiteral("Export CSV"), name,
                                      QStringLiteral("Data logs (*.csv *.txt);;All files (*)"));
  if (file.isEmpty()) return;
  if (auto error = ExportCsv(file)) QMessageBox::warning(this, windowTitle(), *error);
}

void frmLogViewer::cmdNoise_Click() {
  if (app_.windows.Noise) app_.windows.Noise(parentWidget() ? parentWidget() : this);
}

}  // namespace pemra
