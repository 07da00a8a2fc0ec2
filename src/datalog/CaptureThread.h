#pragma once
// A burst capture on a thread of its own, so nothing the writer, the progress display or a
// window does delays the next read. The thread raises its priority as far as the system
// grants it, captures, and hands each row to the writer through a bounded RowQueue; the
// writer takes them in order and keeps the summary of what it took. While the thread runs,
// the session belongs to it: the caller touches no register access until Stop or the end.
//
// On an instant clock (tests) there is no thread: Take runs the capture itself, so tests stay
// deterministic.

#include <atomic>
#include <cstddef>
#include <optional>
#include <thread>
#include <vector>

#include "datalog/BurstCapture.h"
#include "datalog/CapturePriority.h"
#include "datalog/RowQueue.h"

namespace pemra {

struct CaptureThreadOptions {
  // Rows the queue holds: 10 s at the fastest sample rate, so a slow disk or a busy window
  // does not lose samples.
  size_t queueRows = 16384;
  // Ask for real-time (or a lower nice value) for the capture thread.
  bool raisePriority = true;
  // Run the capture on a thread of its own (on an instant clock it never does).
  bool ownThread = true;
};

class CaptureThread {
 public:
  CaptureThread(RegisterAccess& access, std::vector<int16_t> channels, BurstOptions options = {},
                CaptureThreadOptions threadOptions = {});
  ~CaptureThread();
  CaptureThread(const CaptureThread&) = delete;
  CaptureThread& operator=(const CaptureThread&) = delete;

  // Reads SMPL_PRD on the calling thread, then starts the capture thread; on return it has
  // its priority (Priority()).
  void Start();
  // The next row in capture order (readings valid until the next call), waiting for it;
  // false once the capture has ended and every row before its end has been taken.
  bool Take(BurstRow& row);
  // Ends the capture and joins the thread; rows not yet taken are discarded. Idempotent.
  void Stop();

  // What reached the writer: rows taken, samples missed (the capture's estimate and the rows
  // dropped at a full queue), duplicates, gaps between the rows taken, and the end.
  const BurstSummary& Summary() const { return summary_; }
  const CapturePriority& Priority() const { return priority_; }
  const std::vector<int16_t>& Channels() const { return capture_.Channels(); }
  bool Threaded() const { return thread_.joinable(); }

 private:
  void Run();

  std::atomic<bool> stop_{false};  // set by Stop; the capture ends at its next wait
  BurstCapture capture_;
  CaptureThreadOptions threadOptions_;
  std::optional<RowQueue> queue_;
  std::thread thread_;
  std::atomic<bool> started_{false};  // the thread has its priority
  CapturePriority priority_;
  BurstSummary summary_;
  QueuedRow taken_;
  bool stopped_ = false;
};

}  // namespace pemra
