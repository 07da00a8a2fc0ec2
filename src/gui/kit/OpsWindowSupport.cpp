#include "gui/kit/OpsWindowSupport.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

#include "core/Timing.h"
#include "interfaces/Session.h"

namespace pemra {

bool RepaintingDelay(Clock& clock, float milliseconds, Nanoseconds slice,
                     const std::function<bool()>& goOn) {
  constexpr int64_t kNanosecondsPerUnit = 10'000;
  Nanoseconds left(DelayUnits(milliseconds) * kNanosecondsPerUnit);
  if (slice <= Nanoseconds::zero()) slice = left;
  while (left > Nanoseconds::zero()) {
    const Nanoseconds step = std::min(left, slice);
    clock.Wait(step);
    left -= step;
    if (left > Nanoseconds::zero()) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      if (goOn && !goOn()) return false;
    }
  }
  return true;
}

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void MoveToParentCorner(QWidget* dialog) {
  QWidget* parent = dialog->parentWidget();
  if (!parent) return;
  const QWidget* main = parent->window();
  const QPoint corner = main->frameGeometry().topLeft();
  if (dialog->frameGeometry() != dialog->geometry()) {
    dialog->move(corner);  // its frame is known
    return;
  }
  // A window that is not on screen yet has no frame to place (X11 window managers add it
  // when the window is mapped): place its inside where the frame the main window has
  // puts it, so the frame lands on the corner.
  dialog->setGeometry(QRect(corner + (main->geometry().topLeft() - corner), dialog->size()));
}

QLabel* NamedLabel(const QString& caption, const char* name, QWidget* parent) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

QLabel* HexLabel(const char* name, QWidget* parent) {
  QLabel* label = NamedLabel(QString(), name, parent);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setAlignment(Qt::AlignCenter);
  label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("WWWWW")));
  return label;
}

QPushButton* CommandButton(const QString& caption, const char* name, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  return button;
}

QLineEdit* EntryBox(const char* name, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setMaxLength(32);
  box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("0")) * 14);
  return box;
}

void AddFlashAndCloseRow(QBoxLayout* layout, QWidget* parent, QPushButton*& cmdFlash,
                         QPushButton*& cmdClose) {
  auto* buttons = new QHBoxLayout;
  cmdFlash = CommandButton(QStringLiteral("Flash Memory Register Update"), "cmdFlash", parent);
  cmdClose = CommandButton(QStringLiteral("Close Window"), "cmdClose", parent);
  buttons->addWidget(cmdFlash);
  buttons->addStretch(1);
  buttons->addWidget(cmdClose);
  layout->addLayout(buttons);
}

}  // namespace pemra
