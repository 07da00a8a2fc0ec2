#include "app/frmMsg.h"

#include <QCoreApplication>
#include <QLabel>
#include <QVBoxLayout>

namespace pemra {

frmMsg::frmMsg(QWidget* parent) : QWidget(parent, Qt::Dialog) {
  setObjectName(QStringLiteral("frmMsg"));
  setWindowTitle(QCoreApplication::applicationName());
  lblMsg = new QLabel(this);
  lblMsg->setObjectName(QStringLiteral("lblMsg"));
  lblMsg->setAlignment(Qt::AlignCenter);
  lblMsg->setMinimumWidth(lblMsg->fontMetrics().horizontalAdvance(
                              QStringLiteral("Setting up Delay function")) + 48);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblMsg);
}

}  // namespace pemra
