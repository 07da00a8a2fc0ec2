#pragma once
// SIGINT and SIGTERM end the program normally and promptly: the main window is asked to
// close (so the shutdown runs and the configuration file is written), every open message
// box and modal window is closed as its own cancel would close it, and any that opens
// after the signal is closed at once. A second signal while closing ends the program at
// once.

#include <QObject>

#include "gui/kit/Termination.h"

class QSocketNotifier;

namespace pemra {

class SignalClose : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; only one instance may exist.
  explicit SignalClose(QObject* parent = nullptr);
  ~SignalClose() override;

 signals:
  void CloseRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Drain();

  QSocketNotifier* notifier_ = nullptr;
};

// Closes every visible dialog (message boxes included), innermost first.
void CloseModalWindows();

}  // namespace pemra
