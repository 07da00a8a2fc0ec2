#pragma once
// Small helpers the windows of this folder build their controls with.

#include <QPushButton>
#include <QString>
#include <QWidget>

#include <utility>

namespace pemra {

// A new widget whose object name is its control name, so tests and users of the window
// find it by that name.
template <class W, class... Args>
W* Named(const char* name, Args&&... args) {
  auto* widget = new W(std::forward<Args>(args)...);
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// Enter in an entry box of `window` presses none of its buttons: only a click does.
inline void NoDefaultButtons(QWidget& window) {
  for (QPushButton* button : window.findChildren<QPushButton*>()) button->setAutoDefault(false);
}

}  // namespace pemra
