#include "app/MessageBoxSink.h"

#include <QApplication>
#include <QMessageBox>

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
  // Texts carry CR LF line ends; a Qt label breaks lines on LF alone.
  QString text = QString::fromStdString(message.text);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  QMessageBox box(BoxIcon(message.icon), QString::fromStdString(message.title), text,
                  QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

}  // namespace pemra
