#include "cli/StopSignals.h"

#include <csignal>

namespace pemra::cli {

namespace {

// Set by the handler and read by the command and by a burst capture's own thread: lock-free
// atomics serve both.
std::atomic<int> gStopSignal{0};
std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnStopSignal(int signal) {
  gStopSignal = signal;
  gStopRequested = true;
}

}  // namespace

struct StopSignals::Saved {
  struct sigaction oldInt {};
  struct sigaction oldTerm {};
};

StopSignals::StopSignals() : saved_(new Saved) {
  gStopSignal = 0;
  gStopRequested = false;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &saved_->oldInt);
  sigaction(SIGTERM, &action, &saved_->oldTerm);
}

StopSignals::~StopSignals() {
  sigaction(SIGINT, &saved_->oldInt, nullptr);
  sigaction(SIGTERM, &saved_->oldTerm, nullptr);
  delete saved_;
}

int StopSignals::Signal() { return gStopSignal; }
const std::atomic<bool>& StopSignals::Requested() { return gStopRequested; }

}  // namespace pemra::cli
