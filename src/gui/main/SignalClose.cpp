#include "gui/main/SignalClose.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "gui/kit/Termination.h"

namespace pemra {

namespace {

int wakeFds[2] = {-1, -1};

// Only async-signal-safe calls here: the GUI thread learns of the signal through the socket.
void OnSignal(int signal) {
  if (NoteTerminationSignal() >= 1) {
    _exit(128 + signal);
  }
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t written = write(wakeFds[0], &byte, 1);
}

void CloseDialog(QDialog* dialog) {
  if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
    // A box with only an OK button ignores a close request; it is answered instead.
    box->done(QDialog::Rejected);
    return;
  }
  // A window's own close handling is its cancel (a running loop ends, a log is closed);
  // one that refuses to close is rejected all the same.
  dialog->close();
  if (dialog->isVisible()) dialog->reject();
}

}  // namespace

void CloseModalWindows() {
  // The innermost modal window first, so each nested event loop ends in turn.
  for (int guard = 0; guard < 64; ++guard) {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) break;
    CloseDialog(dialog);
  }
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* dialog = qobject_cast<QDialog*>(widget); dialog != nullptr && dialog->isVisible()) {
      CloseDialog(dialog);
    }
  }
}

SignalClose::SignalClose(QObject* parent) : QObject(parent) {
  ResetTermination();
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
  if (qApp != nullptr) qApp->removeEventFilter(this);
  if (wakeFds[0] >= 0) {
    close(wakeFds[0]);
    close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
  }
  ResetTermination();
}

bool SignalClose::eventFilter(QObject* watched, QEvent* event) {
  // A window opened after the signal (a box from the shutdown, a dialog from a load that
  // was under way) is closed as soon as it shows.
  if (event->type() == QEvent::Show) {
    if (auto* dialog = qobject_cast<QDialog*>(watched); dialog != nullptr && dialog->isWindow()) {
      QPointer<QDialog> guarded(dialog);
      QTimer::singleShot(0, this, [guarded] {
        if (guarded && guarded->isVisible()) CloseDialog(guarded);
      });
    }
  }
  return QObject::eventFilter(watched, event);
}

void SignalClose::Drain() {
  char byte = 0;
  [[maybe_unused]] const ssize_t got = read(wakeFds[1], &byte, 1);
  if (qApp != nullptr) qApp->installEventFilter(this);
  emit CloseRequested();
  CloseModalWindows();
}

}  // namespace pemra
