#include "gui/kit/DeviceChoiceDialog.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <array>

#include "gui/kit/OpsWindowSupport.h"
#include "interfaces/SpiFrames.h"

namespace pemra {

namespace {

constexpr std::array<uint32_t, 4> kClocks = {2'000'000, 1'000'000, 500'000, 100'000};

}  // namespace

DeviceChoiceDialog::DeviceChoiceDialog(const QString& kind, const QString& caption,
                                       const QString& listCaption, const QString& noneText,
                                       QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(caption);
  frame = new QGroupBox(listCaption, this);
  frame->setObjectName(QStringLiteral("frame") + kind);
  list = new QListWidget(frame);
  list->setObjectName(QStringLiteral("lst") + kind);
  // Room for about six entries of a serial number, a description and a position.
  const QFontMetrics metrics(list->font());
  list->setMinimumSize(metrics.horizontalAdvance(QLatin1Char('M')) * 34,
                       metrics.lineSpacing() * 6 + 2 * list->frameWidth());
  lblNone = new QLabel(noneText, frame);
  lblNone->setObjectName(QStringLiteral("lbl") + kind + QStringLiteral("None"));
  lblNone->setWordWrap(true);
  lblNone->setVisible(false);
  auto* clockLabel = new QLabel(QStringLiteral("SPI clock"), frame);
  cmboClock = new QComboBox(frame);
  cmboClock->setObjectName(QStringLiteral("cmbo") + kind + QStringLiteral("Clock"));
  for (const uint32_t hz : kClocks) {
    cmboClock->addItem(QString::fromStdString(ClockText(hz)), static_cast<uint>(hz));
  }
  clockLabel->setBuddy(cmboClock);

  auto* inFrame = new QVBoxLayout(frame);
  inFrame->addWidget(list, 1);
  inFrame->addWidget(lblNone);
  auto* clockRow = new QHBoxLayout;
  clockRow->addWidget(clockLabel);
  clockRow->addWidget(cmboClock);
  clockRow->addStretch(1);
  inFrame->addLayout(clockRow);

  cmdSearch = CommandButton(QStringLiteral("Search"), "", this);
  cmdSearch->setObjectName(QStringLiteral("cmd") + kind + QStringLiteral("Search"));
  cmdOK = new QPushButton(QStringLiteral("OK"), this);
  cmdOK->setObjectName(QStringLiteral("cmd") + kind + QStringLiteral("OK"));
  cmdOK->setDefault(true);
  cmdCancel = CommandButton(QStringLiteral("Cancel"), "", this);
  cmdCancel->setObjectName(QStringLiteral("cmd") + kind + QStringLiteral("Cancel"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdSearch);
  buttons->addStretch(1);
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(frame, 1);
  layout->addLayout(buttons);

  connect(cmdSearch, &QPushButton::clicked, this, &DeviceChoiceDialog::cmdSearch_Click);
  connect(cmdOK, &QPushButton::clicked, this, &DeviceChoiceDialog::cmdOK_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &DeviceChoiceDialog::cmdCancel_Click);
  connect(list, &QListWidget::itemDoubleClicked, this, &DeviceChoiceDialog::cmdOK_Click);
  MoveToParentCorner(this);
}

uint32_t DeviceChoiceDialog::ClockHz() const {
  return cmboClock->currentData().toUInt();
}

void DeviceChoiceDialog::SetClockHz(uint32_t hz) {
  // The fastest offered clock that is not above `hz`.
  for (int i = 0; i < cmboClock->count(); ++i) {
    if (cmboClock->itemData(i).toUInt() <= hz) {
      cmboClock->setCurrentIndex(i);
      return;
    }
  }
  cmboClock->setCurrentIndex(cmboClock->count() - 1);
}

void DeviceChoiceDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) cmdSearch_Click();
}

void DeviceChoiceDialog::cmdSearch_Click() {
  int current = -1;
  const QStringList found = Search(current);
  list->clear();
  list->addItems(found);
  if (current >= 0 && current < list->count()) list->setCurrentRow(current);
  const bool none = found.isEmpty();
  list->setVisible(!none);
  lblNone->setVisible(none);
  cmdOK->setEnabled(!none);
}

void DeviceChoiceDialog::cmdOK_Click() {
  const int row = list->currentRow();
  if (row < 0) return;
  if (Choose(row, ClockHz())) {
    accept();
  } else {
    cmdSearch_Click();  // what is there now
  }
}

}  // namespace pemra
