#include "gui/dialogs/frmUSBselect.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <charconv>
#include <string>

#include "core/NumberText.h"
#include "gui/kit/AdapterSlotBoxes.h"
#include "gui/kit/OpsWindowSupport.h"
#include "gui/kit/ScreenFit.h"
#include "interfaces/UsbAdapters.h"
#include "interfaces/UsbSpi.h"

namespace pemra {

frmUSBselect::frmUSBselect(UsbAdapters& adapters, UsbSpi& usbSpi, bool& debugLoopStop,
                           std::function<void(QWidget*)> openDebug, char decimalSeparator,
                           QWidget* parent)
    : QDialog(parent),
      adapters_(adapters),
      usbSpi_(usbSpi),
      debugLoopStop_(debugLoopStop),
      openDebug_(std::move(openDebug)),
      decimalSeparator_(decimalSeparator) {
  setObjectName(QStringLiteral("frmUSBselect"));
  setWindowTitle(QStringLiteral("USB SPI Card Selection"));

  frameBufferSetup = new QGroupBox(QStringLiteral("Buffer Select"), this);
  frameBufferSetup->setObjectName(QStringLiteral("frameBufferSetup"));
  auto* grid = new QGridLayout(frameBufferSetup);
  grid->addWidget(new QLabel(QStringLiteral("Descriptor0"), frameBufferSetup), 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Rev"), frameBufferSetup), 0, 2);
  grid->addWidget(new QLabel(QStringLiteral("Speed"), frameBufferSetup), 0, 3);
  group_ = new QButtonGroup(this);
  for (int i = 0; i < 5; ++i) {
    const QString caption = i < 4 ? QStringLiteral("EzUsb%1").arg(i) : QStringLiteral("None");
    optUsbPort[i] = new QRadioButton(caption, frameBufferSetup);
    optUsbPort[i]->setObjectName(QStringLiteral("optUsbPort_%1").arg(i));
    group_->addButton(optUsbPort[i], i);
    grid->addWidget(optUsbPort[i], i + 1, 0);
    connect(optUsbPort[i], &QRadioButton::clicked, this, [this, i] { optUsbPort_Click(i); });
    if (i == 4) break;
    txtDescript0[i] = UsbSlotBox(QStringLiteral("txtDescript0"), i, 16, frameBufferSetup);
    txtDriverRev[i] = UsbSlotBox(QStringLiteral("txtDriverRev"), i, 4, frameBufferSetup);
    txtSpeed[i] = UsbSlotBox(QStringLiteral("txtSpeed"), i, 4, frameBufferSetup);
    grid->addWidget(txtDescript0[i], i + 1, 1);
    grid->addWidget(txtDriverRev[i], i + 1, 2);
    grid->addWidget(txtSpeed[i], i + 1, 3);
  }
  grid->setColumnStretch(1, 1);

  cmdFindEzUsb = new QPushButton(QStringLiteral("Search"), this);
  cmdFindEzUsb->setObjectName(QStringLiteral("cmdFindEzUsb"));
  cmdDebugUsb = new QPushButton(QStringLiteral("Debug"), this);
  cmdDebugUsb->setObjectName(QStringLiteral("cmdDebugUsb"));
  cmdDebugUsb->setEnabled(static_cast<bool>(openDebug_));
  cmdExit = new QPushButton(QStringLiteral("OK"), this);
  cmdExit->setObjectName(QStringLiteral("cmdExit"));
  cmdExit->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdFindEzUsb);
  buttons->addWidget(cmdDebugUsb);
  buttons->addStretch(1);
  buttons->addWidget(cmdExit);
  auto* layout = new QVBoxLayout(ScrollingContent(this));
  layout->addWidget(frameBufferSetup);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(cmdFindEzUsb, &QPushButton::clicked, this, &frmUSBselect::cmdFindEzUsb_Click);
  connect(cmdDebugUsb, &QPushButton::clicked, this, &frmUSBselect::cmdDebugUsb_Click);
  connect(cmdExit, &QPushButton::clicked, this, &frmUSBselect::cmdExit_Click);
  // Placed at the main window's top-left corner, frame on frame, each time it is shown.
}

void frmUSBselect::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  if (searchOnShow) {
    cmdFindEzUsb_Click();
  } else {
    ShowAdapters();
  }
}

void frmUSBselect::Mark(int index) {
  optUsbPort[index]->setChecked(true);
  optUsbPort_Click(index);
}

void frmUSBselect::cmdFindEzUsb_Click() {
  ClearSlots();
  adapters_.FindAdapters();
  ShowAdapters();
}

void frmUSBselect::ClearSlots() {
  for (int i = 0; i < kAdapterSlots; ++i) {
    optUsbPort[i]->setEnabled(false);
    txtDescript0[i]->clear();
    txtDriverRev[i]->clear();
    txtSpeed[i]->clear();
  }
}

void frmUSBselect::ShowAdapters() {
  ClearSlots();
  for (int i = 0; i < kAdapterSlots; ++i) {
    const AdapterSlot& slot = adapters_.AdapterSlots[i];
    if (!slot.Present) continue;
    optUsbPort[i]->setEnabled(true);
    if (adapters_.SelectedAdapterIndex == i) Mark(i);
    txtDescript0[i]->setText(QString::fromStdString(slot.Descriptor1Text));
    txtDriverRev[i]->setText(
        QString::fromStdString(FormatNumber(slot.FirmwareRevision, "0.0", decimalSeparator_)));
    txtSpeed[i]->setText(QString::fromStdString(UsbSpeedText(slot.UsbSpeed, decimalSeparator_)));
  }
  if (adapters_.SelectedAdapterIndex == -1) Mark(4);
}

void frmUSBselect::optUsbPort_Click(int index) {
  if (index < 0 || index > 4) return;
  if (index == 4) {
    adapters_.UsbSelected = false;
    debugLoopStop_ = true;
    return;
  }
  // A slot only becomes the one in use: selecting happens in the search, so a slot chosen
  // after "None" is used again only after a new search.
  adapters_.SelectedAdapter = adapters_.AdapterSlots[index];
  usbSpi_.SetSpiDelay(usbSpi_.UsbSpiDelay);
  usbSpi_.SetSpiBits(usbSpi_.StaticBits);
}

void frmUSBselect::cmdDebugUsb_Click() {
  if (openDebug_) openDebug_(this);
}

void frmUSBselect::cmdExit_Click() { accept(); }

}  // namespace pemra
