#include "app/SignalClose.h"

#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace pemra {

namespace {

int wakeFds[2] = {-1, -1};
std::atomic<int> signalsSeen{0};

// Only async-signal-safe calls here: the GUI thread learns of the signal through the socket.
void OnSignal(int signal) {
  if (signalsSeen.fetch_add(1) >= 1) {
    _exit(128 + signal);
  }
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t written = write(wakeFds[0], &byte, 1);
}

}  // namespace

SignalClose::SignalClose(QObject* parent) : QObject(parent) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeFds) != 0) return;
  notifier_ = new QSocketNotifier(wakeFds[1], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &SignalClose::Drain);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

SignalClose::~SignalClose() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  if (wakeFds[0] >= 0) {
    close(wakeFds[0]);
    close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
  }
}

void SignalClose::Drain() {
  char byte = 0;
  [[maybe_unused]] const ssize_t got = read(wakeFds[1], &byte, 1);
  emit CloseRequested();
}

}  // namespace pemra
