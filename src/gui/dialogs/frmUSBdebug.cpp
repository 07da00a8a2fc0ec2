#include "gui/dialogs/frmUSBdebug.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

#include "core/NumberText.h"
#include "core/Timing.h"
#include "gui/kit/AdapterSlotBoxes.h"
#include "gui/kit/EntryRules.h"
#include "gui/kit/ScreenFit.h"
#include "interfaces/UsbAdapters.h"
#include "interfaces/UsbSpi.h"

namespace pemra {

namespace {

constexpr int kNone = 4;
constexpr int kMaxWords = 16;
const char* const kNoBuffer = "Please Select a Buffer first";

// Upper-case hex without leading zeros, as the word boxes show words.
QString WordText(int value) { return QString::number(value, 16).toUpper(); }

QString Loop() { return QStringLiteral("Loop"); }

}  // namespace

frmUSBdebug::frmUSBdebug(UsbAdapters& adapters, UsbSpi& usbSpi, bool& debugLoopStop,
                         char decimalSeparator, QWidget* parent)
    : QDialog(parent),
      adapters_(adapters),
      usbSpi_(usbSpi),
      debugLoopStop_(debugLoopStop),
      decimalSeparator_(decimalSeparator) {
  setObjectName(QStringLiteral("frmUSBdebug"));
  setWindowTitle(QStringLiteral("USB SPI Card Setup"));

  cmdExit = new QPushButton(QStringLiteral("OK"), this);
  cmdExit->setObjectName(QStringLiteral("cmdExit"));
  auto* left = new QVBoxLayout;
  left->addWidget(BuildBufferSelect());
  left->addWidget(BuildSpiSetup());
  left->addStretch(1);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(cmdExit);
  left->addLayout(bottom);
  auto* layout = new QHBoxLayout(ScrollingContent(this));
  layout->addLayout(left);
  layout->addWidget(BuildManual());
  layout->setSizeConstraint(QLayout::SetFixedSize);
  frameSPIsetup->setEnabled(false);
  frameManual->setEnabled(false);

  // Enter belongs to the delay box; no button of this window is pressed by it.
  for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(false);

  connect(cmdFindEzUsb, &QPushButton::clicked, this, &frmUSBdebug::cmdFindEzUsb_Click);
  connect(cmdPolarity, &QPushButton::clicked, this, &frmUSBdebug::cmdPolarity_Click);
  connect(cmdReadDelay, &QPushButton::clicked, this, &frmUSBdebug::cmdReadDelay_Click);
  connect(txtLoopDelay, &QLineEdit::returnPressed, this,
          [this] { txtLoopDelay_KeyPress(Qt::Key_Return); });
  connect(cmdReadBits, &QPushButton::clicked, this, &frmUSBdebug::cmdReadBits_Click);
  connect(cmdSetSpiBits, &QPushButton::clicked, this, &frmUSBdebug::cmdSetSpiBits_Click);
  connect(cmdWriteSpi, &QPushButton::clicked, this, &frmUSBdebug::cmdWriteSpi_Click);
  connect(cmdLoop, &QPushButton::clicked, this, &frmUSBdebug::cmdLoop_Click);
  connect(cmdExit, &QPushButton::clicked, this, &frmUSBdebug::cmdExit_Click);
  // Placed at the main window's top-left corner each time it is shown (ScreenFit).
}

QWidget* frmUSBdebug::BuildBufferSelect() {
  frameBufferSetup = new QGroupBox(QStringLiteral("Buffer Select"), this);
  frameBufferSetup->setObjectName(QStringLiteral("frameBufferSetup"));
  auto* grid = new QGridLayout(frameBufferSetup);
  int column = 1;
  for (const char* heading : {"Device", "Descriptor0", "Descriptor1", "Rev", "Speed"}) {
    grid->addWidget(new QLabel(QString::fromLatin1(heading), frameBufferSetup), 0, column++);
  }
  auto* group = new QButtonGroup(this);
  for (int i = 0; i <= kNone; ++i) {
    const QString caption = i < kNone ? QStringLiteral("EzUsb%1").arg(i) : QStringLiteral("None");
    optUsbPort[i] = new QRadioButton(caption, frameBufferSetup);
    optUsbPort[i]->setObjectName(QStringLiteral("optUsbPort_%1").arg(i));
    group->addButton(optUsbPort[i], i);
    grid->addWidget(optUsbPort[i], i + 1, 0);
    connect(optUsbPort[i], &QRadioButton::clicked, this, [this, i] { optUsbPort_Click(i); });
    if (i == kNone) break;
    txtUsbPort[i] = UsbSlotBox(QStringLiteral("txtUsbPort"), i, 10, frameBufferSetup);
    txtDescript0[i] = UsbSlotBox(QStringLiteral("txtDescript0"), i, 16, frameBufferSetup);
    txtDescript1[i] = UsbSlotBox(QStringLiteral("txtDescript1"), i, 16, frameBufferSetup);
    txtDriverRev[i] = UsbSlotBox(QStringLiteral("txtDriverRev"), i, 4, frameBufferSetup);
    txtSpeed[i] = UsbSlotBox(QStringLiteral("txtSpeed"), i, 4, frameBufferSetup);
    txtUsbPort[i]->setText(QStringLiteral("None"));
    int c = 1;
    for (QLineEdit* box : {txtUsbPort[i], txtDescript0[i], txtDescript1[i], txtDriverRev[i],
                           txtSpeed[i]}) {
      grid->addWidget(box, i + 1, c++);
    }
  }
  cmdFindEzUsb = new QPushButton(QStringLiteral("Search"), frameBufferSetup);
  cmdFindEzUsb->setObjectName(QStringLiteral("cmdFindEzUsb"));
  grid->addWidget(cmdFindEzUsb, kNone + 1, 5);
  return frameBufferSetup;
}

QWidget* frmUSBdebug::BuildSpiSetup() {
  frameSPIsetup = new QGroupBox(QStringLiteral("SPI Setup"), this);
  frameSPIsetup->setObjectName(QStringLiteral("frameSPIsetup"));

  frameSpiStatic = new QGroupBox(QStringLiteral("Static Bits"), frameSPIsetup);
  frameSpiStatic->setObjectName(QStringLiteral("frameSpiStatic"));
  auto* statics = new QGridLayout(frameSpiStatic);
  for (int k = 2; k <= 5; ++k) {
    chkStaticBits[k] = new QCheckBox(QStringLiteral("CS%1").arg(k), frameSpiStatic);
    chkStaticBits[k]->setObjectName(QStringLiteral("chkStaticBits_%1").arg(k));
    statics->addWidget(chkStaticBits[k], 0, k - 2);
  }
  cmdReadBits = new QPushButton(QStringLiteral("Read"), frameSpiStatic);
  cmdReadBits->setObjectName(QStringLiteral("cmdReadBits"));
  cmdSetSpiBits = new QPushButton(QStringLiteral("Set Bits"), frameSpiStatic);
  cmdSetSpiBits->setObjectName(QStringLiteral("cmdSetSpiBits"));
  auto* staticButtons = new QHBoxLayout;
  staticButtons->addWidget(cmdReadBits);
  staticButtons->addWidget(cmdSetSpiBits);
  staticButtons->addStretch(1);
  statics->addLayout(staticButtons, 1, 0, 1, 4);

  frameSpiChan = new QGroupBox(QStringLiteral("Csel Channel"), frameSPIsetup);
  frameSpiChan->setObjectName(QStringLiteral("frameSpiChan"));
  auto* channels = new QHBoxLayout(frameSpiChan);
  auto* channelGroup = new QButtonGroup(this);
  for (int k = 1; k <= 4; ++k) {
    optSpiChan[k] = new QRadioButton(QStringLiteral("Chan%1").arg(k), frameSpiChan);
    optSpiChan[k]->setObjectName(QStringLiteral("optSpiChan_%1").arg(k));
    channelGroup->addButton(optSpiChan[k], k);
    channels->addWidget(optSpiChan[k]);
    connect(optSpiChan[k], &QRadioButton::clicked, this, [this, k] { optSpiChan_Click(k); });
  }

  cmdPolarity = new QPushButton(QStringLiteral("Pos"), frameSPIsetup);
  cmdPolarity->setObjectName(QStringLiteral("cmdPolarity"));
  txtLoopDelay = new QLineEdit(QStringLiteral("10"), frameSPIsetup);
  txtLoopDelay->setObjectName(QStringLiteral("txtLoopDelay"));
  txtLoopDelay->setFixedWidth(txtLoopDelay->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12);
  cmdReadDelay = new QPushButton(QStringLiteral("Read"), frameSPIsetup);
  cmdReadDelay->setObjectName(QStringLiteral("cmdReadDelay"));

  auto* grid = new QGridLayout(frameSPIsetup);
  grid->addWidget(frameSpiStatic, 0, 0, 1, 4);
  grid->addWidget(frameSpiChan, 1, 0, 1, 4);
  grid->addWidget(new QLabel(QStringLiteral("Data Input Polarity"), frameSPIsetup), 2, 0);
  grid->addWidget(cmdPolarity, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("Delay between words (uS)"), frameSPIsetup), 3, 0);
  grid->addWidget(txtLoopDelay, 3, 1);
  grid->addWidget(cmdReadDelay, 3, 2);
  grid->setColumnStretch(3, 1);
  return frameSPIsetup;
}

QWidget* frmUSBdebug::BuildManual() {
  frameManual = new QGroupBox(QStringLiteral("Manual Setup"), this);
  frameManual->setObjectName(QStringLiteral("frameManual"));
  auto* grid = new QGridLayout(frameManual);
  txtNumWords = new QLineEdit(QStringLiteral("1"), frameManual);
  txtNumWords->setObjectName(QStringLiteral("txtNumWords"));
  const int wordWidth = txtNumWords->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12;
  txtNumWords->setFixedWidth(wordWidth);
  grid->addWidget(new QLabel(QStringLiteral("# Words to Write"), frameManual), 0, 0, 1, 2);
  grid->addWidget(txtNumWords, 0, 2);
  grid->addWidget(new QLabel(QStringLiteral("Write (hex)"), frameManual), 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Readback"), frameManual), 1, 2);
  for (int i = 1; i <= kMaxWords; ++i) {
    txtWriteSpi[i] = new QLineEdit(QStringLiteral("0"), frameManual);
    txtWriteSpi[i]->setObjectName(QStringLiteral("txtWriteSpi_%1").arg(i));
    // HexToNumber takes four digits: longer text cannot be typed.
    txtWriteSpi[i]->setMaxLength(4);
    txtWriteSpi[i]->setFixedWidth(wordWidth);
    txtReadSpi[i] = new QLineEdit(frameManual);
    txtReadSpi[i]->setObjectName(QStringLiteral("txtReadSpi_%1").arg(i));
    txtReadSpi[i]->setReadOnly(true);
    txtReadSpi[i]->setFixedWidth(wordWidth);
    grid->addWidget(new QLabel(QString::number(i), frameManual), i + 1, 0, Qt::AlignRight);
    grid->addWidget(txtWriteSpi[i], i + 1, 1);
    grid->addWidget(txtReadSpi[i], i + 1, 2);
  }
  cmdWriteSpi = new QPushButton(QStringLiteral("Write"), frameManual);
  cmdWriteSpi->setObjectName(QStringLiteral("cmdWriteSpi"));
  cmdLoop = new QPushButton(Loop(), frameManual);
  cmdLoop->setObjectName(QStringLiteral("cmdLoop"));
  grid->addWidget(cmdWriteSpi, kMaxWords + 2, 1);
  grid->addWidget(cmdLoop, kMaxWords + 2, 2);
  return frameManual;
}

std::function<void(QWidget*)> frmUSBdebug::Opener(UsbAdapters& adapters, UsbSpi& usbSpi,
                                                  bool& debugLoopStop, char decimalSeparator) {
  auto kept = std::make_shared<QPointer<frmUSBdebug>>();
  return [&adapters, &usbSpi, &debugLoopStop, decimalSeparator, kept](QWidget* parent) {
    QWidget* main = parent;
    while (main != nullptr && main->parentWidget() != nullptr) main = main->parentWidget();
    if (*kept != nullptr && (*kept)->parentWidget() != main) delete kept->data();
    if (*kept == nullptr) {
      *kept = new frmUSBdebug(adapters, usbSpi, debugLoopStop, decimalSeparator, main);
    }
    (*kept)->exec();
  };
}

void frmUSBdebug::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  cmdFindEzUsb_Click();
  if (usbSpi_.CselChannel >= 1 && usbSpi_.CselChannel <= 4) {
    optSpiChan[usbSpi_.CselChannel]->setChecked(true);
    optSpiChan_Click(usbSpi_.CselChannel);
  }
  cmdPolarity->setText(usbSpi_.SpiPolarityPos ? QStringLiteral("Pos") : QStringLiteral("Neg"));
}

void frmUSBdebug::MarkUsbPort(int index) {
  optUsbPort[index]->setChecked(true);
  optUsbPort_Click(index);
}

void frmUSBdebug::NoBuffer() { adapters_.Messages().Show(Message{kNoBuffer, "", MessageIcon::None}); }

void frmUSBdebug::cmdFindEzUsb_Click() {
  for (int i = 0; i < kAdapterSlots; ++i) {
    txtUsbPort[i]->setText(QStringLiteral("None"));
    optUsbPort[i]->setEnabled(false);
    txtDescript0[i]->clear();
    txtDescript1[i]->clear();
    txtDriverRev[i]->clear();
    txtSpeed[i]->clear();
  }
  adapters_.FindAdapters();
  for (int i = 0; i < kAdapterSlots; ++i) {
    const AdapterSlot& slot = adapters_.AdapterSlots[i];
    if (!slot.Present) continue;
    txtUsbPort[i]->setText(QString::fromStdString(slot.BoardType + " - " + std::to_string(slot.UnitByte)));
    optUsbPort[i]->setEnabled(true);
    if (adapters_.SelectedAdapterIndex == i) MarkUsbPort(i);
    txtDescript0[i]->setText(QString::fromStdString(slot.Descriptor1Text));
    txtDescript1[i]->setText(QString::fromStdString(slot.Descriptor2Text));
    txtDriverRev[i]->setText(
        QString::fromStdString(FormatNumber(slot.FirmwareRevision, "0.0", decimalSeparator_)));
    txtSpeed[i]->setText(QString::fromStdString(UsbSpeedText(slot.UsbSpeed, decimalSeparator_)));
  }
  if (adapters_.SelectedAdapterIndex == -1) MarkUsbPort(kNone);
}

void frmUSBdebug::optUsbPort_Click(int index) {
  if (index < 0 || index > kNone) return;
  if (index == kNone) {
    frameSPIsetup->setEnabled(false);
    frameManual->setEnabled(false);
    adapters_.UsbSelected = false;
    debugLoopStop_ = true;
    return;
  }
  adapters_.SelectedAdapter = adapters_.AdapterSlots[index];
  frameSPIsetup->setEnabled(true);
  frameManual->setEnabled(true);
  usbSpi_.SetSpiBits(usbSpi_.StaticBits);
  usbSpi_.SetSpiDelay(usbSpi_.UsbSpiDelay);
  cmdReadDelay_Click();
  cmdReadBits_Click();
}

void frmUSBdebug::optSpiChan_Click(int channel) {
  if (channel >= 1 && channel <= 4) usbSpi_.CselChannel = static_cast<uint8_t>(channel);
}

void frmUSBdebug::cmdPolarity_Click() {
  const bool toPos = cmdPolarity->text() != QStringLiteral("Pos");
  cmdPolarity->setText(toPos ? QStringLiteral("Pos") : QStringLiteral("Neg"));
  usbSpi_.SpiPolarityPos = toPos;
}

void frmUSBdebug::cmdReadDelay_Click() {
  if (adapters_.UsbSelected) {
    usbSpi_.ReadSpiSetup();
  } else {
    NoBuffer();
  }
  txtLoopDelay->setText(QString::number(usbSpi_.UsbSpiDelay));
}

void frmUSBdebug::txtLoopDelay_KeyPress(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return;
  if (adapters_.UsbSelected) {
    const double typed =
        NumericValue(txtLoopDelay->text(), QChar::fromLatin1(decimalSeparator_)).value_or(0.0);
    uint8_t delay = static_cast<uint8_t>(std::clamp<int64_t>(RoundHalfEvenToInt(typed), 1, 255));
    usbSpi_.SetSpiDelay(delay);
  } else {
    NoBuffer();
  }
  txtLoopDelay->setText(QString::number(usbSpi_.UsbSpiDelay));
}

void frmUSBdebug::cmdReadBits_Click() {
  if (!adapters_.UsbSelected) {
    NoBuffer();
    txtLoopDelay->setText(QString::number(usbSpi_.UsbSpiDelay));
    return;
  }
  for (int k = 2; k <= 5; ++k) chkStaticBits[k]->setChecked(false);
  usbSpi_.ReadSpiSetup();
  for (int k = 2; k <= 5; ++k) chkStaticBits[k]->setChecked(usbSpi_.StaticBits & (1 << (k + 1)));
}

void frmUSBdebug::cmdSetSpiBits_Click() {
  if (!adapters_.UsbSelected) {
    NoBuffer();
    MarkUsbPort(kNone);
    debugLoopStop_ = true;
    return;
  }
  uint8_t bits = 0;
  for (int k = 2; k <= 5; ++k) {
    if (chkStaticBits[k]->isChecked()) bits = static_cast<uint8_t>(bits | (1 << (k + 1)));
  }
  usbSpi_.SetSpiBits(bits);
  if (!adapters_.UsbSelected) MarkUsbPort(kNone);
}

void frmUSBdebug::ShowReadback() {
  for (int i = 1; i <= usbSpi_.WordCount && i <= kMaxWords; ++i) {
    txtReadSpi[i]->setText(WordText(usbSpi_.InWords[i]));
  }
}

void frmUSBdebug::cmdWriteSpi_Click() {
  if (!adapters_.UsbSelected) {
    NoBuffer();
    MarkUsbPort(kNone);
    debugLoopStop_ = true;
    return;
  }
  // A count of 0 or less sends one word, one above 16 sixteen (however large).
  int64_t count = usbSpi_.WordCount;
  if (!txtNumWords->text().isEmpty()) {
    const double typed =
        NumericValue(txtNumWords->text(), QChar::fromLatin1(decimalSeparator_)).value_or(0.0);
    count = RoundHalfEvenToInt(typed);
  }
  usbSpi_.WordCount = static_cast<uint8_t>(std::clamp<int64_t>(count, 1, kMaxWords));
  const int words = usbSpi_.WordCount;
  txtNumWords->setText(QString::number(words));
  for (int i = 1; i <= words; ++i) {
    const int32_t value = HexToNumber(txtWriteSpi[i]->text().toLatin1().toStdString());
    usbSpi_.OutWords[i] = static_cast<uint16_t>(value);
    txtWriteSpi[i]->setText(WordText(value));
  }
  for (int i = words + 1; i <= kMaxWords; ++i) txtWriteSpi[i]->clear();
  for (int i = 1; i <= kMaxWords; ++i) txtReadSpi[i]->clear();
  usbSpi_.UsbSpiExchange(usbSpi_.WordCount);
  if (!adapters_.UsbSelected) MarkUsbPort(kNone);
  ShowReadback();
}

bool frmUSBdebug::LoopGoesOn() const {
  if (debugLoopStop_ || !isVisible()) return false;
  // The program's main window closing ends the loop too.
  const QWidget* main = parentWidget();
  return main == nullptr || main->isVisible();
}

void frmUSBdebug::cmdLoop_Click() {
  if (cmdLoop->text() != Loop()) {
    debugLoopStop_ = true;
    return;
  }
  cmdLoop->setText(QStringLiteral("Stop"));
  debugLoopStop_ = false;
  cmdWriteSpi_Click();
  const QPointer<frmUSBdebug> self(this);
  while (LoopGoesOn()) {
    usbSpi_.UsbSpiExchange(usbSpi_.WordCount);
    if (!adapters_.UsbSelected) {
      debugLoopStop_ = true;
      MarkUsbPort(kNone);
      cmdLoop->setText(Loop());
    }
    ShowReadback();
    QCoreApplication::processEvents();
    if (self.isNull()) return;  // the window went away with the program
  }
  debugLoopStop_ = true;
  cmdLoop->setText(Loop());
}

void frmUSBdebug::cmdExit_Click() {
  debugLoopStop_ = true;
  hide();
}

void frmUSBdebug::closeEvent(QCloseEvent* event) {
  // The title bar's close box hides the window, as OK does.
  event->ignore();
  cmdExit_Click();
}

}  // namespace pemra
