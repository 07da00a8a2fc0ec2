#pragma once
// "USB SPI Card Setup": exercises the USB adapter by hand. It lists the adapters of the four
// slots, shows and sets the adapter's static output bits, chip-select channel, data input
// polarity and delay between words, and sends up to sixteen raw SPI words once or in a loop,
// showing the words read back. It knows nothing of sensor registers.

#include <QDialog>

#include <array>
#include <functional>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace pemra {

class UsbAdapters;
class UsbSpi;

class frmUSBdebug : public QDialog {
  Q_OBJECT

 public:
  // `debugLoopStop` is the program's stop flag of the exchange loop (the selection dialog's
  // "None" sets it too). Numbers use `decimalSeparator`.
  frmUSBdebug(UsbAdapters& adapters, UsbSpi& usbSpi, bool& debugLoopStop, char decimalSeparator,
              QWidget* parent = nullptr);

  // Opens the window modally over the program's main window (the top of `parent`'s chain of
  // parents), keeping it between openings so its entries stay as the user left them.
  static std::function<void(QWidget*)> Opener(UsbAdapters& adapters, UsbSpi& usbSpi,
                                              bool& debugLoopStop, char decimalSeparator);

  void cmdFindEzUsb_Click();
  void optUsbPort_Click(int index);
  void optSpiChan_Click(int channel);
  void cmdPolarity_Click();
  void cmdReadDelay_Click();
  void txtLoopDelay_KeyPress(int key);
  void cmdReadBits_Click();
  void cmdSetSpiBits_Click();
  void cmdWriteSpi_Click();
  void cmdLoop_Click();
  void cmdExit_Click();

  QGroupBox* frameBufferSetup = nullptr;
  std::array<QRadioButton*, 5> optUsbPort{};  // 0..3 slots, 4 "None"
  std::array<QLineEdit*, 4> txtUsbPort{};
  std::array<QLineEdit*, 4> txtDescript0{};
  std::array<QLineEdit*, 4> txtDescript1{};
  std::array<QLineEdit*, 4> txtDriverRev{};
  std::array<QLineEdit*, 4> txtSpeed{};
  QPushButton* cmdFindEzUsb = nullptr;
  QGroupBox* frameSPIsetup = nullptr;
  QGroupBox* frameSpiStatic = nullptr;
  std::array<QCheckBox*, 6> chkStaticBits{};  // 2..5 used
  QPushButton* cmdReadBits = nullptr;
  QPushButton* cmdSetSpiBits = nullptr;
  QGroupBox* frameSpiChan = nullptr;
  std::array<QRadioButton*, 5> optSpiChan{};  // 1..4 used
  QPushButton* cmdPolarity = nullptr;
  QLineEdit* txtLoopDelay = nullptr;
  QPushButton* cmdReadDelay = nullptr;
  QGroupBox* frameManual = nullptr;
  QLineEdit* txtNumWords = nullptr;
  std::array<QLineEdit*, 17> txtWriteSpi{};  // 1..16 used
  std::array<QLineEdit*, 17> txtReadSpi{};   // 1..16 used
  QPushButton* cmdWriteSpi = nullptr;
  QPushButton* cmdLoop = nullptr;
  QPushButton* cmdExit = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* BuildBufferSelect();
  QWidget* BuildSpiSetup();
  QWidget* BuildManual();
  // Marks an option and applies it as a click does.
  void MarkUsbPort(int index);
  void NoBuffer();
  void ShowReadback();
  // The loop goes on while nobody stopped it and the window and the program still show.
  bool LoopGoesOn() const;

  UsbAdapters& adapters_;
  UsbSpi& usbSpi_;
  bool& debugLoopStop_;
  char decimalSeparator_;
};

}  // namespace pemra
