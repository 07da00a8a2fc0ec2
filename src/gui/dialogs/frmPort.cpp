#include "gui/dialogs/frmPort.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "core/Selection.h"
#include "core/Timing.h"
#include "gui/kit/OpsWindowSupport.h"
#include "gui/kit/ScreenFit.h"
#include "interfaces/ParallelPortSpi.h"

namespace pemra {

QString PortAddressText(int16_t address) {
  return QString::number(static_cast<uint16_t>(address), 16).toUpper();
}

frmPort::frmPort(Selection& selection, ParallelPortSpi& parallel, QWidget* parent)
    : QDialog(parent), selection_(selection), parallel_(parallel) {
  setObjectName(QStringLiteral("frmPort"));
  setWindowTitle(QStringLiteral("Parallel Port Setup"));

  Label1 = new QLabel(QStringLiteral("Port Address (Hex)"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setToolTip(QStringLiteral("Select the Parallel Port Address"));
  txtUser = new QLineEdit(this);
  txtUser->setObjectName(QStringLiteral("txtUser"));
  // An address is at most four hex digits; a longer entry cannot be typed or pasted.
  txtUser->setMaxLength(4);
  cmdOK = new QPushButton(QStringLiteral("OK"), this);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setDefault(true);
  cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
  cmdCancel->setObjectName(QStringLiteral("cmdCancel"));

  auto* grid = new QGridLayout(ScrollingContent(this));
  grid->addWidget(Label1, 0, 0);
  grid->addWidget(txtUser, 0, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdCancel);
  grid->addLayout(buttons, 1, 0, 1, 2);
  grid->setSizeConstraint(QLayout::SetFixedSize);

  connect(cmdOK, &QPushButton::clicked, this, &frmPort::cmdOK_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &frmPort::cmdCancel_Click);
  // Placed at the main window's top-left corner, frame on frame, each time it is shown.
}

void frmPort::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) txtUser->setText(PortAddressText(selection_.PortAddress));
  QDialog::showEvent(event);
}

void frmPort::cmdOK_Click() {
  if (txtUser->text().isEmpty()) return;
  selection_.PortAddress = HexToInt16(txtUser->text().toStdString());
  txtUser->setText(PortAddressText(selection_.PortAddress));
  selection_.InterfaceType = 1;
  // Access to the port is gained once per run; a failure is reported by the access step
  // and is tried again at the next OK.
  if (!parallel_.PortIoEnabled && parallel_.EnablePortAccess()) {
    parallel_.ParallelPortInit();
  }
  accept();
}

void frmPort::cmdCancel_Click() { reject(); }

}  // namespace pemra
