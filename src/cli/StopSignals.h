#pragma once
// SIGINT and SIGTERM while a long command runs (log, evaluate): they end it after the
// current sample instead of killing the process, so its files are completed. The previous
// handlers come back when the StopSignals object goes.

#include <atomic>

namespace pemra::cli {

class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The signal that asked to stop (0: none yet).
  static int Signal();
  // Set once a signal has asked to stop, for code that polls a flag.
  static const std::atomic<bool>& Requested();

 private:
  struct Saved;
  Saved* saved_;
};

}  // namespace pemra::cli
