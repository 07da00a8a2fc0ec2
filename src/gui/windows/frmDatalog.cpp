#include "gui/windows/frmDatalog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "core/DataDirectory.h"
#include "core/NumberText.h"
#include "gui/kit/EntryRules.h"
#include "gui/kit/ScreenFit.h"

namespace pemra {

namespace {

const QString kStart = QStringLiteral("Start Datalog");
const QString kCancel = QStringLiteral("Cancel Datalog");
constexpr int16_t kAngleModel = 21410;
constexpr Nanoseconds kStatusInterval = std::chrono::milliseconds(200);

constexpr std::array<const char*, kLogChannels + 1> kChannelCaptions = {
    "",           "Power Supply",  "X Gyro",        "Y Gyro",        "Z Gyro",  "X Accel",
    "Y Accel",    "Z Accel",       "X Temperature", "Y Temperature", "Z Temperature",
    "Aux Adc"};

std::optional<QString> Limited(const QString& text, QChar separator, const char* notNumber,
                               double low, const char* lowText, double high,
                               const char* highText, bool lowFirst) {
  const std::optional<double> value = NumericValue(text, separator);
  if (!value) return QString::fromLatin1(notNumber);
  if (lowFirst && *value < low) return QString::fromLatin1(lowText);
  if (*value > high) return QString::fromLatin1(highText);
  if (!lowFirst && *value < low) return QString::fromLatin1(lowText);
  return std::nullopt;
}

double ValueOf(const QLineEdit* box, QChar separator, double otherwise) {
  return NumericValue(box->text(), separator).value_or(otherwise);
}

QLineEdit* Box(const char* name, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

QCheckBox* Check(const char* name, const char* caption, QWidget* parent) {
  auto* check = new QCheckBox(QString::fromLatin1(caption), parent);
  check->setObjectName(QString::fromLatin1(name));
  return check;
}

}  // namespace

std::optional<QString> SampleDelayCorrection(const QString& text, QChar decimalSeparator) {
  return Limited(text, decimalSeparator, "0", 0, "0", 32000, "32000", false);
}
std::optional<QString> SamplesPerFileCorrection(const QString& text, QChar decimalSeparator) {
  return Limited(text, decimalSeparator, "1000", 1, "1", 2147483647.0, "2147483647", true);
}
std::optional<QString> FilesPerSessionCorrection(const QString& text, QChar decimalSeparator) {
  return Limited(text, decimalSeparator, "1", 1, "1", 2000000000.0, "2000000000", true);
}

namespace {

QString RemainingText(int64_t seconds) {
  if (seconds < 60) return QStringLiteral("%1 s").arg(seconds);
  if (seconds < 3600) {
    return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
  }
  return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'));
}

// Rows of the whole run (files x samples per file), held below int64's end.
double RunRows(const LogProgress& p) {
  return static_cast<double>(p.files) * static_cast<double>(p.samplesInFile);
}

}  // namespace

QString RunProgressText(const LogProgress& p, Nanoseconds elapsed) {
  QString text = QStringLiteral("File %1 of %2, sample %3 of %4")
                     .arg(p.fileNumber)
                     .arg(p.files)
                     .arg(p.sample)
                     .arg(p.samplesInFile);
  const double left = RunRows(p) - static_cast<double>(p.rowsTaken);
  if (p.rowsTaken > 0 && left > 0) {
    const double perRow = std::chrono::duration<double>(elapsed).count() / static_cast<double>(p.rowsTaken);
    const double seconds = std::min(std::ceil(perRow * left), 1e12);
    text += QStringLiteral(", ") + RemainingText(static_cast<int64_t>(seconds)) +
            QStringLiteral(" remaining");
  }
  return text;
}

int RunProgressPermille(const LogProgress& p) {
  const double rows = RunRows(p);
  if (!(rows > 0)) return 0;
  return static_cast<int>(std::clamp(1000.0 * static_cast<double>(p.rowsTaken) / rows, 0.0, 1000.0));
}

frmDatalog::frmDatalog(Application& app, QWidget* mainWindow, TimeOfDay* timeOfDay,
                       QWidget* parent)
    : QDialog(parent), app_(app), mainWindow_(mainWindow), timeOfDay_(timeOfDay) {
  if (timeOfDay_ == nullptr) {
    ownTimeOfDay_ = std::make_unique<SystemTimeOfDay>();
    timeOfDay_ = ownTimeOfDay_.get();
  }
  directory_ = QString::fromStdString(app_.options.dataDir.string());
  BuildControls();
  Form_Load();
}

frmDatalog::~frmDatalog() {
  if (app_.cancelRun && running_) app_.cancelRun = nullptr;
}

void frmDatalog::BuildControls() {
  setObjectName(QStringLiteral("frmDatalog"));
  setWindowTitle(QStringLiteral("Datalog Control"));

  FrameDataFormat = new QGroupBox(QStringLiteral("DATA FORMAT"), this);
  FrameDataFormat->setObjectName(QStringLiteral("FrameDataFormat"));
  ckDisableND = Check("ckDisableND", "Disable New Data Flags", FrameDataFormat);
  ckNOScale = Check("ckNOScale", "LSB Data Only...   No scaling", FrameDataFormat);
  ckNOHeader = Check("ckNOHeader", "Numeric Data Only...  No file header", FrameDataFormat);
  auto* format = new QVBoxLayout(FrameDataFormat);
  format->addWidget(ckDisableND);
  format->addWidget(ckNOScale);
  format->addWidget(ckNOHeader);
  // Off: one ReadRegister per channel, as long as a sample takes. On: every sensor sample
  // once, all channels in one exchange, paced by the new-data flag.
  ckBurst = Check("ckBurst", "One row per sensor sample (burst read)", FrameDataFormat);
  format->addWidget(ckBurst);

  FrameFileInfo = new QGroupBox(QStringLiteral("FILE INFORMATION"), this);
  FrameFileInfo->setObjectName(QStringLiteral("FrameFileInfo"));
  txtFileNum = Box("txtFileNum", FrameFileInfo);
  txtFileName = Box("txtFileName", FrameFileInfo);
  txtDirectory = Box("txtDirectory", FrameFileInfo);
  txtDirectory->setMinimumWidth(260);
  lblFext = new QLabel(FrameFileInfo);
  lblFext->setObjectName(QStringLiteral("lblFext"));
  auto* info = new QGridLayout(FrameFileInfo);
  info->addWidget(new QLabel(QStringLiteral("File Number"), FrameFileInfo), 0, 0);
  info->addWidget(txtFileNum, 0, 1);
  info->addWidget(new QLabel(QStringLiteral("File Name"), FrameFileInfo), 1, 0);
  info->addWidget(txtFileName, 1, 1);
  info->addWidget(lblFext, 1, 2);
  info->addWidget(new QLabel(QStringLiteral("Directory"), FrameFileInfo), 2, 0);
  info->addWidget(txtDirectory, 2, 1, 1, 2);

  FrameFilePref = new QGroupBox(QStringLiteral("FILE SETUP"), this);
  FrameFilePref->setObjectName(QStringLiteral("FrameFilePref"));
  txtSampleDelay = Box("txtSampleDelay", FrameFilePref);
  txtFilesPerSession = Box("txtFilesPerSession", FrameFilePref);
  txtSamplesPerFile = Box("txtSamplesPerFile", FrameFilePref);
  auto* setup = new QGridLayout(FrameFilePref);
  setup->addWidget(new QLabel(QStringLiteral("Sample Delay msec"), FrameFilePref), 0, 0);
  setup->addWidget(txtSampleDelay, 0, 1);
  setup->addWidget(new QLabel(QStringLiteral("Files per Session"), FrameFilePref), 1, 0);
  setup->addWidget(txtFilesPerSession, 1, 1);
  setup->addWidget(new QLabel(QStringLiteral("Samples per File"), FrameFilePref), 2, 0);
  setup->addWidget(txtSamplesPerFile, 2, 1);

  FrameDataSelection = new QGroupBox(QStringLiteral("DATA SELECTION"), this);
  FrameDataSelection->setObjectName(QStringLiteral("FrameDataSelection"));
  auto* selection = new QGridLayout(FrameDataSelection);
  ckTime = Check("ckTime", "Time (Sec)", FrameDataSelection);
  selection->addWidget(ckTime, 0, 0);
  for (int k = 1; k <= kLogChannels; ++k) {
    const QByteArray name = "CheckReg_" + QByteArray::number(k);
    CheckReg[static_cast<size_t>(k)] =
        Check(name.constData(), kChannelCaptions[static_cast<size_t>(k)], FrameDataSelection);
    selection->addWidget(CheckReg[static_cast<size_t>(k)], k % 6, k / 6);
  }
  CheckReg[1]->setChecked(true);

  cmdStartDatalog = new QPushButton(kStart, this);
  cmdStartDatalog->setObjectName(QStringLiteral("cmdStartDatalog"));
  cmdStartDatalog->setAutoDefault(false);
  LBLDatalogInProgress =
      new QLabel(QStringLiteral("D A T A L O G    I N    P R O G R E S S"), this);
  LBLDatalogInProgress->setObjectName(QStringLiteral("LBLDatalogInProgress"));
  LBLDatalogInProgress->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
  QSizePolicy keepPlace = LBLDatalogInProgress->sizePolicy();
  keepPlace.setRetainSizeWhenHidden(true);  // the button keeps its size when the label shows
  LBLDatalogInProgress->setSizePolicy(keepPlace);
  lblRunStatus = new QLabel(this);
  lblRunStatus->setObjectName(QStringLiteral("lblRunStatus"));
  lblRunStatus->setWordWrap(true);
  // Room for the end-of-run summary (rows, samples missed, longest gap, the pacing, which may
  // take two lines, and the priority) from the start, so the window opens tall enough to show
  // it.
  lblRunStatus->setMinimumHeight(lblRunStatus->fontMetrics().lineSpacing() * 6);
  lblRunStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  prgDatalog = new QProgressBar(this);
  prgDatalog->setObjectName(QStringLiteral("prgDatalog"));
  prgDatalog->setRange(0, 1000);
  prgDatalog->setValue(0);
  prgDatalog->setFormat(QString());
  prgDatalog->setTextVisible(true);

  auto* grid = new QGridLayout(ScrollingContent(this));
  grid->addWidget(FrameDataFormat, 0, 0);
  grid->addWidget(FrameFileInfo, 0, 1);
  grid->addWidget(FrameFilePref, 1, 0);
  grid->addWidget(FrameDataSelection, 1, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(cmdStartDatalog);
  bottom->addWidget(LBLDatalogInProgress, 1, Qt::AlignCenter);
  grid->addLayout(bottom, 2, 0, 1, 2);
  grid->addWidget(prgDatalog, 3, 0, 1, 2);
  grid->addWidget(lblRunStatus, 4, 0, 1, 2);

  connect(cmdStartDatalog, &QPushButton::clicked, this, &frmDatalog::cmdStartDatalog_Click);
  connect(txtDirectory, &QLineEdit::textChanged, this, &frmDatalog::txtDirectory_Change);
  connect(txtFileName, &QLineEdit::textChanged, this, &frmDatalog::txtFileName_Change);
  connect(txtSampleDelay, &QLineEdit::textChanged, this, &frmDatalog::txtSampleDelay_Change);
  connect(txtSamplesPerFile, &QLineEdit::textChanged, this,
          &frmDatalog::txtSamplesPerFile_Change);
  connect(txtFilesPerSession, &QLineEdit::textChanged, this,
          &frmDatalog::txtFilesPerSession_Change);
}

void frmDatalog::Form_Load() {
  txtSamplesPerFile->setText(QStringLiteral("1000"));
  txtSamplesPerFile_Change();  // also when the text was already "1000"
  txtSampleDelay->setText(QStringLiteral("0"));
  txtFilesPerSession->setText(QStringLiteral("1"));
  txtDirectory->setText(directory_);
  BaseFileName = QStringLiteral("DATALOG");
  txtFileName->setText(QStringLiteral("DATALOG"));
  txtFileNum->setText(QStringLiteral("1"));
  txtFileNum->setEnabled(false);
  LBLDatalogInProgress->hide();
  // A running live readout ends when its "Loop" box is cleared.
  if (mainWindow_ != nullptr && app_.mainWindow.StopLiveLoop) app_.mainWindow.StopLiveLoop();
  lblFext->setText(QString::fromLatin1(LogTextFormatFor(app_.DecimalSeparator()).extension));
}

void frmDatalog::Form_Activate() {
  const bool angles = app_.session.selection.DeviceType == kAngleModel;
  CheckReg[3]->setVisible(!angles);
  CheckReg[4]->setVisible(!angles);
  CheckReg[9]->setText(angles ? QStringLiteral("Pitch_Out") : QStringLiteral("Y Temperature"));
  CheckReg[10]->setText(angles ? QStringLiteral("Roll_Out") : QStringLiteral("Z Temperature"));
  QCoreApplication::processEvents();
}

bool frmDatalog::event(QEvent* e) {
  const bool handled = QDialog::event(e);
  if (e->type() == QEvent::WindowActivate) Form_Activate();
  return handled;
}

void frmDatalog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // Offscreen and on some window managers no activation follows the first showing.
  Form_Activate();
}

void frmDatalog::Replace(QLineEdit* box, const std::optional<QString>& fix) {
  if (fix) box->setText(*fix);
}

void frmDatalog::txtDirectory_Change() {
  if (txtDirectory->text() != directory_) txtDirectory->setText(directory_);
}

void frmDatalog::txtFileName_Change() { BaseFileName = txtFileName->text(); }

void frmDatalog::txtSampleDelay_Change() {
  Replace(txtSampleDelay, SampleDelayCorrection(txtSampleDelay->text(),
                                                QChar::fromLatin1(app_.DecimalSeparator())));
}

void frmDatalog::txtSamplesPerFile_Change() {
  const QChar separator = QChar::fromLatin1(app_.DecimalSeparator());
  Replace(txtSamplesPerFile, SamplesPerFileCorrection(txtSamplesPerFile->text(), separator));
  SamplesPerFile = ValueOf(txtSamplesPerFile, separator, 1000);
}

void frmDatalog::txtFilesPerSession_Change() {
  Replace(txtFilesPerSession,
          FilesPerSessionCorrection(txtFilesPerSession->text(),
                                    QChar::fromLatin1(app_.DecimalSeparator())));
}

void frmDatalog::cmdStartDatalog_Click() {
  bool any = false;
  for (int k = 1; k <= kLogChannels; ++k) any = any || CheckReg[static_cast<size_t>(k)]->isChecked();
  if (!any) {
    app_.session.messages.Show(
        Message{"Please check at least one DATA SELECTION box.", "", MessageIcon::None});
    return;
  }
  if (cmdStartDatalog->text() == kStart) {
    if (running_) return;  // the run in progress has been cancelled and is finishing
    if (!CanWriteFiles()) return;
    cmdStartDatalog->setText(kCancel);
    RunDatalog();
  } else if (cmdStartDatalog->text() == kCancel) {
    cmdStartDatalog->setText(kStart);
  }
}

bool frmDatalog::CanWriteFiles() {
  const std::string title = QCoreApplication::applicationName().toStdString();
  // The files must land in the directory the window shows, under a name the system takes
  // as it stands.
  const std::string name = BaseFileName.toStdString();
  if (const std::string_view rule = BaseFileNameProblem(name); !rule.empty()) {
    app_.session.messages.Show(Message{"The file name cannot be used: " + std::string(rule) + ".",
                                       title, MessageIcon::Warning});
    return false;
  }
  if (const std::string problem = DataDirectoryProblem(app_.options.dataDir); !problem.empty()) {
    app_.session.messages.Show(
        Message{"The data directory cannot be used:\r\n" + problem, title, MessageIcon::Warning});
    return false;
  }
  return true;
}

void frmDatalog::SetSettingsEnabled(bool enabled) {
  for (int k = 1; k <= kLogChannels; ++k) CheckReg[static_cast<size_t>(k)]->setEnabled(enabled);
  for (QWidget* w : std::initializer_list<QWidget*>{
           ckNOHeader, ckNOScale, ckDisableND, ckBurst, txtSamplesPerFile, txtSampleDelay,
           txtFilesPerSession, txtDirectory, txtFileName}) {
    w->setEnabled(enabled);
  }
}

void frmDatalog::RunDatalog() {
  running_ = true;
  LBLDatalogInProgress->show();
  SetSettingsEnabled(false);
  // Closing the main window (or a signal) during the run ends it after the current sample.
  app_.cancelRun = [this] { cmdStartDatalog->setText(kStart); };
  Session& session = app_.session;
  // The previous run's status goes.
  runStart_ = session.clock.Now();
  statusShownAt_.reset();
  lastProgress_ = LogProgress{};
  lblRunStatus->clear();
  prgDatalog->setValue(0);
  prgDatalog->setFormat(QString());
  std::optional<BurstSampleReader> burst;
  if (ckBurst->isChecked()) burst.emplace(session.access);
  burst_ = burst ? &*burst : nullptr;
  const DatalogContext context{
      session.access,
      session.clock,
      *timeOfDay_,
      session.messages,
      app_.options.dataDir,
      app_.DecimalSeparator(),
      // A burst capture's thread owns the session while it runs; it ends when the
      // interface fails.
      [&session, &burst] { return burst ? !burst->Ended() : InterfaceUsable(session); },
      burst ? &*burst : nullptr,
      QCoreApplication::applicationName().toStdString()};
  lastResult_ = pemra::RunDatalog(context, *this);
  ShowRunStatus(lastProgress_, true);
  if (burst) ShowBurstSummary(*burst);
  // Where the window scrolls, the summary is brought into view.
  if (QScrollArea* scroll = ScrollAreaOf(this)) scroll->ensureWidgetVisible(lblRunStatus);
  burst_ = nullptr;
  app_.cancelRun = nullptr;
  LBLDatalogInProgress->hide();
  cmdStartDatalog->setText(kStart);
  SetSettingsEnabled(true);
  running_ = false;

  if (closeRequested_ || app_.closeAfterRun) QDialog::reject();
  if (app_.closeAfterRun && mainWindow_ != nullptr) {
    QMetaObject::invokeMethod(mainWindow_, &QWidget::close, Qt::QueuedConnection);
  }
}

QString frmDatalog::BurstStatus(const BurstSampleReader& burst) const {
  const BurstSummary summary = burst.Summary();
  QString text = QStringLiteral("Samples missed (estimated): %1").arg(summary.missed);
  if (summary.dropped > 0) {
    text += QStringLiteral(" (%1 dropped: the writer fell behind)").arg(summary.dropped);
  }
  text += QStringLiteral("    Torn rows: %1").arg(summary.torn);
  if (summary.longestGapAfter > 0) {
    const double ms = std::chrono::duration<double, std::milli>(summary.longestGap).count();
    text += QStringLiteral("    Longest gap: %1 ms after row %2")
                .arg(QString::fromStdString(FormatNumber(ms, "0.00", app_.DecimalSeparator())))
                .arg(summary.longestGapAfter);
  }
  if (!summary.pacingNote.empty()) {
    text += QStringLiteral("\nPacing: %1").arg(QString::fromStdString(summary.pacingNote));
  }
  text += QStringLiteral("\nCapture priority: %1")
              .arg(QString::fromStdString(PriorityText(burst.Priority())));
  return text;
}

void frmDatalog::ShowBurstSummary(const BurstSampleReader& burst) {
  const BurstSummary summary = burst.Summary();
  lblRunStatus->setText(lblRunStatus->text() +
                        QStringLiteral("    Duplicates discarded: %1").arg(summary.duplicates));
  if (summary.end == BurstEnd::NoNewData && !burst.Channels().empty()) {
    const std::string& pacing =
        app_.session.access.Table()[static_cast<size_t>(burst.Channels().front())].RegName;
    app_.session.messages.Show(Message{"No new data from " + pacing + ": the burst read stopped.",
                                       QCoreApplication::applicationName().toStdString(),
                                       MessageIcon::Warning});
  }
}

void frmDatalog::ShowRunStatus(const LogProgress& progress, bool final) {
  const Nanoseconds now = app_.session.clock.Now();
  if (!final && statusShownAt_ && now - *statusShownAt_ < kStatusInterval) return;
  statusShownAt_ = now;
  const Nanoseconds elapsed = now - runStart_;
  const QString seconds = QString::fromStdString(FormatNumber(
      std::chrono::duration<double>(elapsed).count(), "0.0", app_.DecimalSeparator()));
  prgDatalog->setValue(RunProgressPermille(progress));
  prgDatalog->setFormat(progress.fileNumber > 0 ? RunProgressText(progress, elapsed) : QString());
  QString text;
  if (final) {
    text = QStringLiteral("Rows written: %1    Elapsed: %2 s")
               .arg(lastResult_.rowsWritten)
               .arg(seconds);
  } else {
    // Until its last sample a file's rows wait in its spool; the file itself is written then.
    const std::string spool =
        LogFileName(settings_.baseFileName, progress.fileNumber,
                    LogTextFormatFor(app_.DecimalSeparator()).extension) + ".spool";
    text = QStringLiteral("Rows taken: %1    Elapsed: %2 s    The rows are kept in %3 until the "
                          "file is completed.")
               .arg(progress.rowsTaken)
               .arg(seconds)
               .arg(QString::fromStdString(spool));
  }
  // A burst run says what it has lost so far, and when, while it runs.
  if (burst_ != nullptr) {
    text += QLatin1Char('\n') + BurstStatus(*burst_);
    if (app_.mainWindow.ShowCapturePriority) app_.mainWindow.ShowCapturePriority(burst_->Priority());
  }
  lblRunStatus->setText(text);
}

const LogSettings& frmDatalog::Settings() {
  const QChar separator = QChar::fromLatin1(app_.DecimalSeparator());
  LogSettings& s = settings_;
  s.baseFileName = BaseFileName.toStdString();
  s.filesPerSession = ValueOf(txtFilesPerSession, separator, 1);
  s.samplesPerFile = ValueOf(txtSamplesPerFile, separator, 1000);
  s.sampleDelayMs = ValueOf(txtSampleDelay, separator, 0);
  s.time = ckTime->isChecked();
  for (int k = 1; k <= kLogChannels; ++k) {
    s.channels[static_cast<size_t>(k)] = CheckReg[static_cast<size_t>(k)]->isChecked();
  }
  s.disableNewData = ckDisableND->isChecked();
  s.noScale = ckNOScale->isChecked();
  s.noHeader = ckNOHeader->isChecked();
  return s;
}

void frmDatalog::FileStarted(int64_t fileNumber) {
  txtFileNum->setText(QString::number(fileNumber));
  QCoreApplication::processEvents();
}

bool frmDatalog::SampleTaken(const LogProgress& progress) { return Yield(progress); }

bool frmDatalog::Waiting(const LogProgress& progress) { return Yield(progress); }

bool frmDatalog::Yield(const LogProgress& progress) {
  lastProgress_ = progress;
  ShowRunStatus(progress, false);
  QCoreApplication::processEvents();
  return cmdStartDatalog->text() != kStart;
}

void frmDatalog::reject() {
  if (running_) {
    // Closing during a run cancels it; the window closes once the file is complete.
    closeRequested_ = true;
    cmdStartDatalog->setText(kStart);
    return;
  }
  QDialog::reject();
}

}  // namespace pemra
