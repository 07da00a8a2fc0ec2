#pragma once
// "Datalog Control": what to log, how many samples and files, the delay between samples and
// the file name; starts and cancels a logging run. The run itself is the library's; this
// window gives it the settings from its controls and shows its progress.

#include <QDialog>

#include <array>
#include <memory>

#include "datalog/BurstSampleReader.h"
#include "datalog/DatalogRun.h"
#include "datalog/TimeOfDay.h"
#include "gui/kit/Application.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace pemra {

class frmDatalog : public QDialog, private LogFrontEnd {
  Q_OBJECT

 public:
  // `timeOfDay` null: the system's local time, with the date and time texts pemra-cli writes
  // (the C library's for LC_TIME).
  frmDatalog(Application& app, QWidget* mainWindow, TimeOfDay* timeOfDay = nullptr,
             QWidget* parent = nullptr);
  ~frmDatalog() override;

  void Form_Load();
  void Form_Activate();
  void cmdStartDatalog_Click();
  void txtDirectory_Change();
  void txtFileName_Change();
  void txtSampleDelay_Change();
  void txtSamplesPerFile_Change();
  void txtFilesPerSession_Change();
  // The run: files of samples until done, cancelled or failed. Returns when it is over.
  void RunDatalog();

  bool Running() const { return running_; }
  const LogResult& LastResult() const { return lastResult_; }

  QString BaseFileName;
  double SamplesPerFile = 1000;

  // Controls, by their names (CheckReg[1..11]).
  QGroupBox* FrameDataFormat = nullptr;
  QCheckBox* ckDisableND = nullptr;
  QCheckBox* ckNOScale = nullptr;
  QCheckBox* ckNOHeader = nullptr;
  QCheckBox* ckBurst = nullptr;  // one row per sensor sample (an addition)
  QGroupBox* FrameFileInfo = nullptr;
  QLineEdit* txtFileNum = nullptr;
  QLineEdit* txtFileName = nullptr;
  QLineEdit* txtDirectory = nullptr;
  QLabel* lblFext = nullptr;
  QPushButton* cmdStartDatalog = nullptr;
  QGroupBox* FrameFilePref = nullptr;
  QLineEdit* txtSampleDelay = nullptr;
  QLineEdit* txtFilesPerSession = nullptr;
  QLineEdit* txtSamplesPerFile = nullptr;
  QGroupBox* FrameDataSelection = nullptr;
  QCheckBox* ckTime = nullptr;
  std::array<QCheckBox*, kLogChannels + 1> CheckReg{};
  QLabel* LBLDatalogInProgress = nullptr;
  QLabel* lblRunStatus = nullptr;  // rows taken and elapsed time of a run
  QProgressBar* prgDatalog = nullptr;  // file i of N, sample j of M, time remaining

 public slots:
  void reject() override;

 protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  void BuildControls();
  void SetSettingsEnabled(bool enabled);
  // False, after saying why, when the file name breaks a rule or the data directory is
  // missing or cannot be written.
  bool CanWriteFiles();
  // The status line and the progress bar; at most five times a second unless `final`.
  void ShowRunStatus(const LogProgress& progress, bool final);
  // Misses and duplicates after a burst run; why it stopped if the sensor brought no data.
  void ShowBurstSummary(const BurstSampleReader& burst);
  // Replaces a box's text by `fix` when given (the change handler then runs again).
  static void Replace(QLineEdit* box, const std::optional<QString>& fix);

  const LogSettings& Settings() override;
  void FileStarted(int64_t fileNumber) override;
  bool SampleTaken(const LogProgress& progress) override;
  bool Waiting(const LogProgress& progress) override;
  // Shows the progress, lets the window handle its events; false once the run is cancelled.
  bool Yield(const LogProgress& progress);

  Application& app_;
  QWidget* mainWindow_;
  std::unique_ptr<TimeOfDay> ownTimeOfDay_;
  TimeOfDay* timeOfDay_;
  QString directory_;
  LogSettings settings_;
  LogResult lastResult_;
  Nanoseconds runStart_{0};  // on the session clock
  std::optional<Nanoseconds> statusShownAt_;
  LogProgress lastProgress_;
  bool running_ = false;
  bool closeRequested_ = false;
};

// Corrections of the window's numeric boxes: the text to show instead, or empty when the
// text stands. Sample delay: not a number "0", above 32000 "32000", below 0 "0". Samples per
// file: not a number "1000", below 1 "1", above 2147483647 "2147483647". Files per session:
// not a number "1", below 1 "1", above 2000000000 "2000000000".
std::optional<QString> SampleDelayCorrection(const QString& text, QChar decimalSeparator);
std::optional<QString> SamplesPerFileCorrection(const QString& text, QChar decimalSeparator);
std::optional<QString> FilesPerSessionCorrection(const QString& text, QChar decimalSeparator);

// The progress bar's text: "File 2 of 3, sample 40 of 100, 1 min 05 s remaining" (the time
// estimated from the rows taken in `elapsed`; left out before the first row and at the end).
QString RunProgressText(const LogProgress& progress, Nanoseconds elapsed);
// Thousandths of the run's rows taken.
int RunProgressPermille(const LogProgress& progress);

}  // namespace pemra
