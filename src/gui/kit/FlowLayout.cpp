#include "gui/kit/FlowLayout.h"

#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace pemra {

FlowLayout::FlowLayout(QWidget* parent, int spacing) : QLayout(parent), spacing_(spacing) {}

FlowLayout::~FlowLayout() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void FlowLayout::addItem(QLayoutItem* item) { items_.append(item); }

int FlowLayout::count() const { return static_cast<int>(items_.size()); }

QLayoutItem* FlowLayout::itemAt(int index) const {
  return index >= 0 && index < items_.size() ? items_.at(index) : nullptr;
}

QLayoutItem* FlowLayout::takeAt(int index) {
  return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

Qt::Orientations FlowLayout::expandingDirections() const { return {}; }

bool FlowLayout::hasHeightForWidth() const { return true; }

int FlowLayout::heightForWidth(int width) const { return Arrange(QRect(0, 0, width, 0), false); }

QSize FlowLayout::minimumSize() const {
  // As narrow as the widest control: the rest wraps.
  QSize size;
  for (const QLayoutItem* item : items_) size = size.expandedTo(item->minimumSize());
  const QMargins m = contentsMargins();
  return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize FlowLayout::sizeHint() const {
  int width = 0, height = 0;
  for (const QLayoutItem* item : items_) {
    width += item->sizeHint().width() + (width > 0 ? Spacing() : 0);
    height = std::max(height, item->sizeHint().height());
  }
  const QMargins m = contentsMargins();
  return QSize(width + m.left() + m.right(), height + m.top() + m.bottom());
}

void FlowLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  Arrange(rect, true);
}

int FlowLayout::Spacing() const {
  if (spacing_ >= 0) return spacing_;
  const QWidget* parent = parentWidget();
  return parent ? parent->style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, parent)
                : 6;
}

int FlowLayout::Arrange(const QRect& rect, bool place) const {
  const QMargins m = contentsMargins();
  const QRect area = rect.adjusted(m.left(), m.top(), -m.right(), -m.bottom());
  const int gap = std::max(Spacing(), 4);
  int x = area.x(), y = area.y(), lineHeight = 0;
  // Items of one line share its height and are centred in it.
  QList<QPair<QLayoutItem*, QRect>> line;
  const auto flush = [&] {
    if (place)
      for (auto& [item, r] : line)
        item->setGeometry(QRect(QPoint(r.x(), r.y() + (lineHeight - r.height()) / 2), r.size()));
    line.clear();
  };
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    const QSize hint = item->sizeHint();
    if (x > area.x() && x + hint.width() > area.right() + 1) {
      flush();
      x = area.x();
      y += lineHeight + gap;
      lineHeight = 0;
    }
    line.append({item, QRect(QPoint(x, y), hint)});
    x += hint.width() + gap;
    lineHeight = std::max(lineHeight, hint.height());
  }
  flush();
  return y + lineHeight - rect.y() + m.bottom();
}

}  // namespace pemra
