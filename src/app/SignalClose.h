#pragma once
// SIGINT and SIGTERM ask the main window to close, so the shutdown runs and the
// configuration file is written. A second signal while closing ends the program at once.

#include <QObject>

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

 private:
  void Drain();

  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace pemra
