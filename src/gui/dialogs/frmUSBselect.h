#pragma once
// "USB SPI Card Selection": lists the adapters of the four slots and lets the user choose
// one, or none. Showing the dialog searches at once.

#include <QDialog>

#include <array>
#include <functional>
#include <string>

class QButtonGroup;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace pemra {

class UsbAdapters;
class UsbSpi;

class frmUSBselect : public QDialog {
  Q_OBJECT

 public:
  // `debugLoopStop` is the USB debug window's stop flag; `openDebug` opens that window
  // modally (empty while the program has none). Numbers use `decimalSeparator`.
  frmUSBselect(UsbAdapters& adapters, UsbSpi& usbSpi, bool& debugLoopStop,
               std::function<void(QWidget*)> openDebug, char decimalSeparator,
               QWidget* parent = nullptr);

  void cmdFindEzUsb_Click();
  // Shows the slots as the last search left them.
  void ShowAdapters();
  void optUsbPort_Click(int index);
  void cmdDebugUsb_Click();
  void cmdExit_Click();

  QGroupBox* frameBufferSetup = nullptr;
  std::array<QRadioButton*, 5> optUsbPort{};  // 0..3 slots, 4 "None"
  std::array<QLineEdit*, 4> txtDescript0{};
  std::array<QLineEdit*, 4> txtDriverRev{};
  std::array<QLineEdit*, 4> txtSpeed{};
  QPushButton* cmdFindEzUsb = nullptr;
  QPushButton* cmdDebugUsb = nullptr;
  QPushButton* cmdExit = nullptr;

  // Showing the dialog searches; false when a search has just run and reported (the main
  // window's load), so the user is not told the same twice: the dialog then shows its result.
  bool searchOnShow = true;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ClearSlots();
  // Marks an option and applies it as a click does.
  void Mark(int index);

  UsbAdapters& adapters_;
  UsbSpi& usbSpi_;
  bool& debugLoopStop_;
  std::function<void(QWidget*)> openDebug_;
  char decimalSeparator_;
  QButtonGroup* group_ = nullptr;
};

}  // namespace pemra
