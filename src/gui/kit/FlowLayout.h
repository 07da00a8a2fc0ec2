#pragma once
// A row of controls that wraps onto further rows when the window is narrower than the row
// (a large text scale on a small screen), so no control lies beyond the window's edge.

#include <QLayout>
#include <QList>

namespace pemra {

class FlowLayout : public QLayout {
 public:
  explicit FlowLayout(QWidget* parent = nullptr, int spacing = -1);
  ~FlowLayout() override;

  void addItem(QLayoutItem* item) override;
  int count() const override;
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  Qt::Orientations expandingDirections() const override;
  bool hasHeightForWidth() const override;
  int heightForWidth(int width) const override;
  QSize minimumSize() const override;
  QSize sizeHint() const override;
  void setGeometry(const QRect& rect) override;

 private:
  // Lays the items out in `rect` (only measures when `place` is false); the height used.
  int Arrange(const QRect& rect, bool place) const;
  int Spacing() const;

  QList<QLayoutItem*> items_;
  int spacing_;
};

}  // namespace pemra
