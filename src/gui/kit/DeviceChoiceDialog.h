#pragma once
// What the FTDI and SPI device dialogs share: a list of what the last search found (or one
// clear line saying nothing was found), the SPI clock to use, and Search, OK and Cancel.
// Showing the dialog searches at once; the entry in use (or the saved one) is marked. OK
// opens the marked entry and closes the dialog only when that worked; Cancel changes
// nothing.

#include <QDialog>
#include <QStringList>

#include <cstdint>

class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace pemra {

class DeviceChoiceDialog : public QDialog {
  Q_OBJECT

 public:
  // Controls are named after `kind` ("Ftdi": frameFtdi, lstFtdi, lblFtdiNone, cmboFtdiClock,
  // cmdFtdiSearch, cmdFtdiOK, cmdFtdiCancel).
  DeviceChoiceDialog(const QString& kind, const QString& caption, const QString& listCaption,
                     const QString& noneText, QWidget* parent);

  void cmdSearch_Click();
  void cmdOK_Click();
  void cmdCancel_Click() { reject(); }

  QGroupBox* frame = nullptr;
  QListWidget* list = nullptr;
  QLabel* lblNone = nullptr;
  QComboBox* cmboClock = nullptr;
  QPushButton* cmdSearch = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdCancel = nullptr;

  // The clock the combo box offers, 2.0 MHz down to 0.1 MHz.
  uint32_t ClockHz() const;
  void SetClockHz(uint32_t hz);

 protected:
  // Searches; returns one line per entry found and the row to mark (-1: none).
  virtual QStringList Search(int& current) = 0;
  // Opens the entry of `row` at the clock; false (it has said why) when that failed.
  virtual bool Choose(int row, uint32_t clockHz) = 0;
  void showEvent(QShowEvent* event) override;
};

}  // namespace pemra
