#include "gui/kit/MessageBoxSink.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <cstdio>

#include "gui/kit/Termination.h"

namespace pemra {

namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void MessageBoxSink::Show(const Message& message) {
  // A capture thread's transport failure: the box is shown by the GUI thread, and the
  // reporting thread goes on at once.
  QCoreApplication* app = QCoreApplication::instance();
  if (app != nullptr && QThread::currentThread() != app->thread()) {
    QMetaObject::invokeMethod(
        app, [this, message] { Show(message); }, Qt::QueuedConnection);
    return;
  }
  // Once a signal has asked the program to end, nothing waits for a click: the message
  // goes to standard error.
  if (TerminationRequested()) {
    std::string text = message.text;
    for (size_t at = text.find('\r'); at != std::string::npos; at = text.find('\r', at)) {
      if (at + 1 < text.size() && text[at + 1] == '\n') {
        text.erase(at, 1);
      } else {
        text[at] = '\n';
      }
    }
    std::fprintf(stderr, "pemra-eval: %s\n", text.c_str());
    return;
  }
  // Texts carry CR LF line ends; a Qt label breaks lines on LF alone.
  QString text = QString::fromStdString(message.text);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  QMessageBox box(BoxIcon(message.icon), QString::fromStdString(message.title), text,
                  QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

}  // namespace pemra
