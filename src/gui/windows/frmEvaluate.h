#pragma once
// "Evaluate": the evaluation `pemra-cli evaluate` runs, from a dialog: the duration of the
// still log, the limits file, the report folder and the channels; a progress bar with the
// stage and the time left, Cancel, and the report opened when it is written. The run goes
// on a worker thread (the session is the run's while it lasts: the live loop is stopped
// first); report.pdf is drawn on the GUI thread afterwards. A cancelled run, or closing the
// dialog during one, still writes the report of what it had, marked incomplete.

#include <QDialog>

#include <array>
#include <atomic>
#include <functional>
#include <memory>

#include "evaluation/Evaluation.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace pemra {

class Application;
class BackgroundTask;
class TimeOfDay;

class frmEvaluate : public QDialog {
  Q_OBJECT

 public:
  // `timeOfDay`: the log's times of day (null: the system's).
  frmEvaluate(Application& app, QWidget* parent = nullptr, TimeOfDay* timeOfDay = nullptr);
  ~frmEvaluate() override;

  void cmdStart_Click();
  void cmdCancel_Click();
  void cmdLimits_Click();
  void cmdOutDir_Click();
  bool Running() const;
  // The last run's result (empty before the first has ended).
  const EvaluationResult& Result() const { return result_; }

  // Opens the written report; the desktop's browser by default (tests put their own).
  std::function<void(const QString& path)> openReport;

  QLineEdit* txtDuration;
  QLineEdit* txtLimits;
  QPushButton* cmdLimits;
  QLineEdit* txtOutDir;
  QPushButton* cmdOutDir;
  std::array<QCheckBox*, kLogChannels + 1> ckChannel{};  // 1..11
  QProgressBar* prgEvaluate;
  QLabel* lblStage;
  QLabel* lblResult;
  QPushButton* cmdStart;
  QPushButton* cmdCancel;
  QPushButton* cmdClose;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void ShowStage();
  void Finished();
  void SetRunning(bool running);

  Application& app_;
  TimeOfDay* timeOfDay_;
  std::unique_ptr<TimeOfDay> ownTimeOfDay_;
  BackgroundTask* task_;
  EvaluationResult result_;
  EvaluationSettings settings_;
  std::atomic<int> stage_{0};
  std::atomic<double> secondsLeft_{-1};
  bool closeAfterRun_ = false;
};

}  // namespace pemra
