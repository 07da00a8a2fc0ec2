#pragma once
// Work a window runs off the GUI thread (reading a log, computing its analysis), so the
// window stays responsive and shows the progress, with a way to cancel it.
//
// The work gets a cancel flag and a progress function (a fraction 0..1) and runs on a
// thread of its own; progress reaches the window through its event queue. When the work has
// ended, the thread is joined and `done` runs on the GUI thread: whatever the work wrote
// into state shared with `done` is complete and safe to read there. Destroying the task
// cancels the work and waits for it; `done` then never runs.

#include <QObject>

#include <atomic>
#include <functional>
#include <thread>

namespace pemra {

class BackgroundTask : public QObject {
  Q_OBJECT

 public:
  using Progress = std::function<void(double fraction)>;
  using Work = std::function<void(const std::atomic<bool>& cancel, const Progress& progress)>;

  explicit BackgroundTask(QObject* parent = nullptr);
  ~BackgroundTask() override;

  // Starts `work`; a task still running is cancelled and waited for first (its `done` does
  // not run).
  void Start(Work work, std::function<void()> done);
  // Asks the running work to stop; its `done` still runs when it has.
  void Cancel();
  // Cancels and waits: neither the work nor its `done` runs any more.
  void Stop();
  bool Running() const { return running_; }

 signals:
  // Percent done, 0..100, only when it changes.
  void ProgressChanged(int percent);
  // The work has started, or has ended (after its `done`) or was stopped.
  void RunningChanged(bool running);

 private:
  std::thread thread_;
  std::atomic<bool> cancel_{false};
  std::atomic<int> lastPercent_{-1};
  bool running_ = false;
  unsigned generation_ = 0;  // of the current work; a stale completion is ignored
};

}  // namespace pemra
