#include "gui/windows/frmEvaluate.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <charconv>
#include <fstream>
#include <sstream>

#include "core/Version.h"
#include "datalog/TimeOfDay.h"
#include "gui/kit/Application.h"
#include "gui/kit/BackgroundTask.h"
#include "gui/kit/NamedWidget.h"
#include "gui/kit/OpsWindowSupport.h"
#include "gui/kit/ScreenFit.h"
#include "pdf/ReportPdf.h"

namespace pemra {

namespace {

namespace fs = std::filesystem;

constexpr double kMaxDurationSeconds = 7 * 24 * 3600.0;

const char* const kChannelCaptions[kLogChannels + 1] = {
    "", "Power Supply", "X Gyro", "Y Gyro", "Z Gyro", "X Accel", "Y Accel", "Z Accel",
    "X Temperature", "Y Temperature", "Z Temperature", "Aux Adc"};

// The share of the progress bar each stage ends at: the still log is nearly all the time.
constexpr double kStageEnd[kEvaluationStages] = {0.01, 0.02, 0.92, 0.98, 0.99, 1.0};

class GuiObserver final : public EvaluationObserver {
 public:
  GuiObserver(const BackgroundTask::Progress& progress, std::atomic<int>& stage, std::atomic<double>& left)
      : progress_(progress), stage_(stage), left_(left) {}
  void StageStarted(EvaluationStage stage) override {
    stage_ = static_cast<int>(stage);
    left_ = -1;
    Report(0);
  }
  void Progress(EvaluationStage, double fraction, double secondsLeft) override {
    left_ = secondsLeft;
    Report(fraction);
  }

 private:
  void Report(double fraction) {
    const int s = stage_;
    const double start = s == 0 ? 0.0 : kStageEnd[s - 1];
    progress_(start + (kStageEnd[s] - start) * fraction);
  }
  const BackgroundTask::Progress& progress_;
  std::atomic<int>& stage_;
  std::atomic<double>& left_;
};

std::optional<std::string> ReadLimits(const fs::path& path, Limits& limits) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return path.string() + ": not a regular file";
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in && !in.eof()) return path.string() + ": cannot be read";
  if (auto error = ParseLimits(text.str(), limits)) return path.string() + ": " + *error;
  return std::nullopt;
}

}  // namespace

frmEvaluate::frmEvaluate(Application& app, QWidget* parent, TimeOfDay* timeOfDay)
    : QDialog(parent), app_(app), timeOfDay_(timeOfDay), task_(new BackgroundTask(this)) {
  if (timeOfDay_ == nullptr) {
    ownTimeOfDay_ = std::make_unique<SystemTimeOfDay>();
    timeOfDay_ = ownTimeOfDay_.get();
  }
  setObjectName(QStringLiteral("frmEvaluate"));
  setWindowTitle(QStringLiteral("Evaluate"));
  openReport = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };

  auto* settings = new QGroupBox(QStringLiteral("Evaluation"), this);
  auto* form = new QFormLayout(settings);
  txtDuration = Named<QLineEdit>("txtDuration", settings);
  txtDuration->setText(QStringLiteral("3600"));
  form->addRow(QStringLiteral("Still log (seconds)"), txtDuration);
  txtLimits = Named<QLineEdit>("txtLimits", settings);
  txtLimits->setPlaceholderText(QStringLiteral("none: the figures are reported without verdicts"));
  cmdLimits = Named<QPushButton>("cmdLimits", settings);
  cmdLimits->setText(QStringLiteral("Browse..."));
  auto* limitsRow = new QHBoxLayout;
  limitsRow->addWidget(txtLimits, 1);
  limitsRow->addWidget(cmdLimits);
  form->addRow(QStringLiteral("Limits file (JSON)"), limitsRow);
  txtOutDir = Named<QLineEdit>("txtOutDir", settings);
  txtOutDir->setText(QString::fromStdString((app_.options.dataDir / "evaluation").string()));
  cmdOutDir = Named<QPushButton>("cmdOutDir", settings);
  cmdOutDir->setText(QStringLiteral("Browse..."));
  auto* outRow = new QHBoxLayout;
  outRow->addWidget(txtOutDir, 1);
  outRow->addWidget(cmdOutDir);
  form->addRow(QStringLiteral("Report folder"), outRow);

  auto* channels = new QGroupBox(QStringLiteral("Channels logged"), this);
  auto* grid = new QGridLayout(channels);
  for (int k = 1; k <= kLogChannels; ++k) {
    QCheckBox* box = Named<QCheckBox>(("ckChannel_" + std::to_string(k)).c_str(), channels);
    box->setText(QString::fromUtf8(kChannelCaptions[k]));
    box->setChecked(true);
    grid->addWidget(box, (k - 1) % 4, (k - 1) / 4);
    ckChannel[static_cast<size_t>(k)] = box;
  }

  prgEvaluate = Named<QProgressBar>("prgEvaluate", this);
  prgEvaluate->setRange(0, 100);
  prgEvaluate->setValue(0);
  lblStage = Named<QLabel>("lblStage", this);
  lblStage->setText(QStringLiteral("Ready"));
  lblResult = Named<QLabel>("lblResult", this);
  lblResult->setWordWrap(true);
  lblResult->setTextInteractionFlags(Qt::TextSelectableByMouse);

  cmdStart = Named<QPushButton>("cmdStart", this);
  cmdStart->setText(QStringLiteral("Start"));
  cmdStart->setDefault(true);
  cmdCancel = Named<QPushButton>("cmdCancel", this);
  cmdCancel->setText(QStringLiteral("Cancel"));
  cmdClose = Named<QPushButton>("cmdClose", this);
  cmdClose->setText(QStringLiteral("Close"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cmdStart);
  buttons->addWidget(cmdCancel);
  buttons->addWidget(cmdClose);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(settings);
  layout->addWidget(channels);
  layout->addWidget(prgEvaluate);
  layout->addWidget(lblStage);
  layout->addWidget(lblResult);
  layout->addLayout(buttons);

  connect(cmdStart, &QPushButton::clicked, this, &frmEvaluate::cmdStart_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &frmEvaluate::cmdCancel_Click);
  connect(cmdClose, &QPushButton::clicked, this, &frmEvaluate::close);
  connect(cmdLimits, &QPushButton::clicked, this, &frmEvaluate::cmdLimits_Click);
  connect(cmdOutDir, &QPushButton::clicked, this, &frmEvaluate::cmdOutDir_Click);
  connect(task_, &BackgroundTask::ProgressChanged, this, [this](int percent) {
    prgEvaluate->setValue(percent);
    ShowStage();
  });
  SetRunning(false);
  resize(sizeHint().expandedTo(QSize(560, 0)));
  FitToScreen(this);
}

frmEvaluate::~frmEvaluate() = default;

bool frmEvaluate::Running() const { return task_->Running(); }

void frmEvaluate::SetRunning(bool running) {
  cmdStart->setEnabled(!running);
  cmdCancel->setEnabled(running);
  for (QWidget* w : std::initializer_list<QWidget*>{txtDuration, txtLimits, cmdLimits, txtOutDir, cmdOutDir})
    w->setEnabled(!running);
  for (int k = 1; k <= kLogChannels; ++k) ckChannel[static_cast<size_t>(k)]->setEnabled(!running);
}

void frmEvaluate::ShowStage() {
  const int s = stage_;
  QString text = QStringLiteral("Stage %1 of %2: %3")
                     .arg(s + 1)
                     .arg(kEvaluationStages)
                     .arg(QString::fromUtf8(StageText(static_cast<EvaluationStage>(s))));
  const double left = secondsLeft_;
  if (left >= 0) text += QStringLiteral(", %1 s left").arg(left, 0, 'f', 0);
  lblStage->setText(text);
}

void frmEvaluate::cmdLimits_Click() {
  const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Limits file"), txtLimits->text(),
                                                    QStringLiteral("JSON (*.json);;All files (*)"));
  if (!file.isEmpty()) txtLimits->setText(file);
}

void frmEvaluate::cmdOutDir_Click() {
  const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Report folder"), txtOutDir->text());
  if (!dir.isEmpty()) txtOutDir->setText(dir);
}

void frmEvaluate::cmdStart_Click() {
  const auto refuse = [this](const std::string& text) {
    QMessageBox::warning(this, windowTitle(), QString::fromStdString(text));
  };
  EvaluationSettings s;
  const std::string duration = txtDuration->text().trimmed().replace(QLocale().decimalPoint(), ".").toStdString();
  const auto [end, error] = std::from_chars(duration.data(), duration.data() + duration.size(), s.durationSeconds);
  if (duration.empty() || error != std::errc{} || end != duration.data() + duration.size() ||
      !(s.durationSeconds > 0) || s.durationSeconds > kMaxDurationSeconds)
    return refuse("The still log needs a number of seconds above 0 and at most 604800.");
  for (int k = 1; k <= kLogChannels; ++k) s.channels[static_cast<size_t>(k)] = ckChannel[static_cast<size_t>(k)]->isChecked();
  if (std::none_of(s.channels.begin() + 2, s.channels.begin() + 8, [](bool b) { return b; }))
    return refuse("Tick at least one gyro or accelerometer channel: they are what is analysed.");
  s.limitsFile = txtLimits->text().trimmed().toStdString();
  if (!s.limitsFile.empty()) {
    if (auto problem = ReadLimits(s.limitsFile, s.limits)) return refuse("The limits file cannot be used:\n" + *problem);
    if (auto problem = CheckLimitsForChannels(s.limits, s.channels, app_.session.access.Table()))
      return refuse("The limits file cannot be used:\n" + s.limitsFile + ": " + *problem);
  }
  s.outDir = txtOutDir->text().trimmed().toStdString();
  std::error_code ec;
  if (s.outDir.empty()) return refuse("Choose a report folder.");
  fs::create_directories(s.outDir, ec);
  if (ec || !fs::is_directory(s.outDir, ec))
    return refuse("The report folder " + s.outDir.string() + " cannot be made: " + (ec ? ec.message() : "not a directory"));
  if (!InterfaceUsable(app_.session)) return refuse("No sensor can be reached: select an interface first.");
  s.program = "pemra-eval";
  s.version = VersionText();
  s.command = "Analysis > Evaluate: still log " + duration + " s, limits " +
              (s.limitsFile.empty() ? std::string("none") : s.limitsFile) + ", folder " + s.outDir.string();
  s.decimalSeparator = app_.DecimalSeparator();
  settings_ = s;

  // The run owns the session while it lasts.
  if (app_.mainWindow.StopLiveLoop) app_.mainWindow.StopLiveLoop();
  closeAfterRun_ = false;
  lblResult->clear();
  stage_ = 0;
  secondsLeft_ = -1;
  SetRunning(true);
  ShowStage();
  task_->Start(
      [this](const std::atomic<bool>& cancel, const BackgroundTask::Progress& progress) {
        GuiObserver observer(progress, stage_, secondsLeft_);
        const EvaluationContext context{app_.session, app_.session.clock, *timeOfDay_, &cancel, {}, {}};
        result_ = RunEvaluation(context, settings_, observer);
      },
      [this] { Finished(); });
}

void frmEvaluate::cmdCancel_Click() {
  if (task_->Running()) {
    task_->Cancel();
    lblStage->setText(lblStage->text() + QStringLiteral(" (cancelling)"));
  }
}

void frmEvaluate::Finished() {
  // The PDF is drawn here, on the GUI thread that owns the fonts.
  if (result_.end != EvaluationEnd::FileFailed) {
    fs::path written;
    if (auto error = WriteReportPdf(result_.report, settings_.outDir, RenderReportPdf, &written)) {
      result_.end = EvaluationEnd::FileFailed;
      result_.error = *error;
    } else {
      result_.written.push_back(written);
    }
  }
  SetRunning(false);
  prgEvaluate->setValue(100);
  const EvaluationReport& r = result_.report;
  const Verdict verdict = r.Overall();
  QString text;
  switch (result_.end) {
    case EvaluationEnd::Completed:
      text = verdict == Verdict::Fail   ? QStringLiteral("FAIL: a limit or the self-test failed.")
             : verdict == Verdict::Pass ? QStringLiteral("PASS: every limit is met.")
                                        : QStringLiteral("Done: no limits were given.");
      break;
    case EvaluationEnd::Cancelled:
      text = QStringLiteral("INCOMPLETE: %1.").arg(QString::fromStdString(r.incompleteReason));
      break;
    case EvaluationEnd::DeviceFailed:
    case EvaluationEnd::FileFailed:
      text = QStringLiteral("FAILED: %1.").arg(QString::fromStdString(result_.error));
      break;
  }
  const fs::path html = settings_.outDir / kReportHtmlName;
  const bool haveHtml = std::find(result_.written.begin(), result_.written.end(), html) != result_.written.end();
  if (haveHtml) text += QStringLiteral(" Report: %1").arg(QString::fromStdString(html.string()));
  lblResult->setText(text);
  lblStage->setText(QStringLiteral("Finished"));
  if (closeAfterRun_) {
    close();
    return;
  }
  if (haveHtml && openReport) openReport(QString::fromStdString(html.string()));
}

void frmEvaluate::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  MoveToParentCorner(this);  // where every window of the program opens
}

void frmEvaluate::closeEvent(QCloseEvent* event) {
  if (task_->Running()) {
    // The report of what the run had is still written; the dialog closes after it.
    closeAfterRun_ = true;
    task_->Cancel();
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void frmEvaluate::reject() {
  if (task_->Running()) {
    closeAfterRun_ = true;
    task_->Cancel();
    return;
  }
  QDialog::reject();
}

}  // namespace pemra
