#include "gui/kit/ScreenFit.h"

#include <QDialog>
#include <QEvent>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace pemra {

namespace {

constexpr const char* kFitterName = "screenFit";

// Fits and places its dialog whenever the dialog is shown.
class ScreenFitter final : public QObject {
 public:
  ScreenFitter(QDialog* dialog, QScrollArea* area) : QObject(dialog), dialog_(dialog), area_(area) {
    setObjectName(QString::fromLatin1(kFitterName));
    dialog->installEventFilter(this);
  }

  QSize roomy;

  void Fit() {
    QWidget* content = area_->widget();
    const QSize wanted = content->sizeHint().expandedTo(content->minimumSizeHint()).expandedTo(roomy);
    const QWidget* parent = dialog_->parentWidget();
    const QWidget* main = parent != nullptr ? parent->window() : nullptr;
    const QScreen* screen = main != nullptr ? main->screen() : dialog_->screen();
    const QPoint corner =
        main != nullptr ? main->frameGeometry().topLeft() : dialog_->frameGeometry().topLeft();
    const QRect available = screen != nullptr ? screen->availableGeometry()
                                              : QRect(corner, wanted + QSize(1, 1) * 4096);
    const QMargins frame = FrameMargins(main);
    const int bar = dialog_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, dialog_);
    const QRect inside = FittedGeometry(wanted, corner, available, frame, bar);
    dialog_->resize(inside.size());
    if (dialog_->frameGeometry() != dialog_->geometry()) {
      // Its frame is known (shown before): place the frame.
      dialog_->move(inside.topLeft() - QPoint(frame.left(), frame.top()));
    } else {
      // Not on screen yet: the window manager adds the frame when the window is mapped, so
      // the inside goes where a frame like the main window's puts it.
      dialog_->setGeometry(inside);
    }
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == dialog_ && event->type() == QEvent::Show &&
        !static_cast<QShowEvent*>(event)->spontaneous()) {
      Fit();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  // The main window's frame (none where the platform draws none); without a main window an
  // estimate of a window manager's.
  QMargins FrameMargins(const QWidget* main) const {
    if (main != nullptr) {
      const QRect outer = main->frameGeometry();
      const QRect inner = main->geometry();
      return {inner.left() - outer.left(), inner.top() - outer.top(),
              outer.right() - inner.right(), outer.bottom() - inner.bottom()};
    }
    const int title = dialog_->style()->pixelMetric(QStyle::PM_TitleBarHeight) + 4;
    return {4, title, 4, 4};
  }

  QDialog* dialog_;
  QScrollArea* area_;
};

ScreenFitter* FitterOf(const QDialog* dialog) {
  return dialog->findChild<ScreenFitter*>(QString::fromLatin1(kFitterName),
                                          Qt::FindDirectChildrenOnly);
}

}  // namespace

QRect FittedGeometry(QSize wanted, QPoint corner, QRect available, QMargins frame,
                     int scrollBarExtent) {
  const QSize framing(frame.left() + frame.right(), frame.top() + frame.bottom());
  const QSize room = (available.size() - framing).expandedTo(QSize(1, 1));
  QSize size = wanted;
  if (size.height() > room.height()) {
    size.setHeight(room.height());
    size.rwidth() += scrollBarExtent;  // the vertical scroll bar takes its room
  }
  if (size.width() > room.width()) {
    size.setWidth(room.width());
    if (wanted.height() <= room.height()) size.rheight() += scrollBarExtent;
  }
  size = size.boundedTo(room);
  const QSize outer = size + framing;
  int x = std::min(corner.x(), available.x() + available.width() - outer.width());
  int y = std::min(corner.y(), available.y() + available.height() - outer.height());
  x = std::max(x, available.x());
  y = std::max(y, available.y());
  return {QPoint(x + frame.left(), y + frame.top()), size};
}

QWidget* ScrollingContent(QDialog* dialog) {
  auto* outer = new QVBoxLayout(dialog);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* area = new QScrollArea(dialog);
  area->setObjectName(QStringLiteral("scrollArea"));
  area->setWidgetResizable(true);
  area->setFrameShape(QFrame::NoFrame);
  auto* content = new QWidget(area);
  content->setObjectName(QStringLiteral("scrollContent"));
  area->setWidget(content);
  outer->addWidget(area);
  new ScreenFitter(dialog, area);
  return content;
}

void SetRoomySize(QDialog* dialog, QSize roomy) {
  if (ScreenFitter* fitter = FitterOf(dialog)) fitter->roomy = roomy;
}

void FitToScreen(QDialog* dialog) {
  if (ScreenFitter* fitter = FitterOf(dialog)) fitter->Fit();
}

QScrollArea* ScrollAreaOf(const QDialog* dialog) {
  return dialog->findChild<QScrollArea*>(QStringLiteral("scrollArea"), Qt::FindDirectChildrenOnly);
}

}  // namespace pemra
