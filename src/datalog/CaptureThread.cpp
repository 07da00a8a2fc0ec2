#include "datalog/CaptureThread.h"

#include <pthread.h>

#include <csignal>
#include <ctime>
#include <system_error>

namespace pemra {

namespace {

BurstOptions Stoppable(BurstOptions options, const std::atomic<bool>* stop) {
  options.stop = stop;
  return options;
}

}  // namespace

CaptureThread::CaptureThread(RegisterAccess& access, std::vector<int16_t> channels,
                             BurstOptions options, CaptureThreadOptions threadOptions)
    : capture_(access, std::move(channels), Stoppable(options, &stop_)),
      threadOptions_(threadOptions) {
  if (access.SessionClock().Instant()) threadOptions_.ownThread = false;
}

CaptureThread::~CaptureThread() { Stop(); }

void CaptureThread::Start() {
  capture_.Start();
  summary_ = BurstSummary{};
  summary_.period = capture_.Summary().period;
  summary_.hardwarePaced = capture_.Summary().hardwarePaced;
  summary_.pacingNote = capture_.Summary().pacingNote;
  taken_.readings.resize(capture_.Channels().size());
  if (!threadOptions_.ownThread) return;
  queue_.emplace(threadOptions_.queueRows, capture_.Channels().size());
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    queue_.reset();  // no thread to be had: the capture runs in Take
    return;
  }
  started_.wait(false, std::memory_order_acquire);
}

void CaptureThread::Run() {
  // Termination signals go to the other threads, whose handlers expect them there.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&signals, signal);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  if (threadOptions_.raisePriority) priority_ = RaiseThreadPriority();
  started_.store(true, std::memory_order_release);
  started_.notify_one();
  BurstRow row;
  BurstSummary final;
  try {
    while (capture_.Next(row)) {
      const BurstSummary& sofar = capture_.Summary();
      queue_->Push(row.at, sofar.missed, sofar.duplicates, row.readings, sofar.rereads,
                   sofar.torn);
    }
    final = capture_.Summary();
  } catch (...) {
    // Nothing in a burst is expected to throw; if something does, the capture ends as a
    // failed burst and the writer completes its file with the rows before it.
    final = capture_.Summary();
    final.end = BurstEnd::TransferFailed;
  }
  timespec used{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used) == 0) {
    final.cpu = std::chrono::seconds(used.tv_sec) + Nanoseconds(used.tv_nsec);
  }
  queue_->Close(final);
}

bool CaptureThread::Take(BurstRow& row) {
  if (summary_.end != BurstEnd::Running) return false;
  if (!queue_) {
    // Inline: the capture's own summary is the writer's.
    const bool taken = capture_.Next(row);
    summary_ = capture_.Summary();
    return taken;
  }
  if (!queue_->Pop(taken_)) {
    const BurstSummary& final = queue_->Final();
    summary_.end = final.end;
    summary_.duplicates = final.duplicates;
    summary_.rereads = final.rereads;
    summary_.torn = final.torn;
    summary_.cpu = final.cpu;
    summary_.dropped = queue_->FinalDropped();
    summary_.missed = final.missed + summary_.dropped;
    return false;
  }
  summary_.Keep(taken_.at);
  summary_.duplicates = taken_.duplicates;
  summary_.rereads = taken_.rereads;
  summary_.torn = taken_.torn;
  summary_.dropped = taken_.dropped;
  summary_.missed = taken_.missed + taken_.dropped;
  row = BurstRow{summary_.rows, taken_.at, taken_.readings, false};
  return true;
}

void CaptureThread::Stop() {
  if (stopped_) return;
  stopped_ = true;
  stop_.store(true, std::memory_order_relaxed);
  if (thread_.joinable()) {
    thread_.join();
    // The thread closed the queue as it ended: its processor time is known now.
    summary_.cpu = queue_->Final().cpu;
  }
  if (!queue_) capture_.Finish();
  if (summary_.end == BurstEnd::Running) summary_.end = BurstEnd::Done;
}

}  // namespace pemra
