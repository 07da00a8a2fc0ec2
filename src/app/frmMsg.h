#pragma once
// The small start-up window shown while the program prepares itself ("LOADING...").

#include <QWidget>

class QLabel;

namespace pemra {

class frmMsg : public QWidget {
  Q_OBJECT

 public:
  explicit frmMsg(QWidget* parent = nullptr);

  QLabel* lblMsg = nullptr;
};

}  // namespace pemra
