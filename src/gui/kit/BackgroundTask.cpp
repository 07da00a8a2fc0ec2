#include "gui/kit/BackgroundTask.h"

#include <QMetaObject>

#include <algorithm>
#include <cmath>
#include <utility>

namespace pemra {

BackgroundTask::BackgroundTask(QObject* parent) : QObject(parent) {}

BackgroundTask::~BackgroundTask() { Stop(); }

void BackgroundTask::Stop() {
  cancel_ = true;
  if (thread_.joinable()) thread_.join();
  ++generation_;  // a completion already queued finds itself stale
  if (running_) {
    running_ = false;
    emit RunningChanged(false);
  }
}

void BackgroundTask::Cancel() { cancel_ = true; }

void BackgroundTask::Start(Work work, std::function<void()> done) {
  Stop();
  cancel_ = false;
  lastPercent_ = -1;
  running_ = true;
  const unsigned generation = ++generation_;
  emit RunningChanged(true);
  emit ProgressChanged(0);
  thread_ = std::thread([this, generation, work = std::move(work), done = std::move(done)]() mutable {
    const Progress progress = [this, generation](double fraction) {
      const int percent = std::clamp(static_cast<int>(std::floor(fraction * 100)), 0, 100);
      if (lastPercent_.exchange(percent) == percent) return;
      QMetaObject::invokeMethod(
          this, [this, generation, percent] {
            if (generation == generation_) emit ProgressChanged(percent);
          },
          Qt::QueuedConnection);
    };
    work(cancel_, progress);
    // Runs on the GUI thread after the work: joins, then hands over. Dropped with the task
    // when it is destroyed first (its pending events go with it).
    QMetaObject::invokeMethod(
        this, [this, generation, done = std::move(done)] {
          if (generation != generation_) return;
          if (thread_.joinable()) thread_.join();
          running_ = false;
          if (done) done();
          if (generation == generation_) emit RunningChanged(false);
        },
        Qt::QueuedConnection);
  });
}

}  // namespace pemra
