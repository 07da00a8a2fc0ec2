#pragma once
// "Parallel Port Setup": takes the parallel port's base address in hexadecimal. OK stores
// it, selects the parallel port and, once per run, gains access to the port and puts its
// lines to idle.

#include <QDialog>

#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pemra {

class ParallelPortSpi;
struct Selection;

class frmPort : public QDialog {
  Q_OBJECT

 public:
  frmPort(Selection& selection, ParallelPortSpi& parallel, QWidget* parent = nullptr);

  void cmdOK_Click();
  void cmdCancel_Click();

  QLabel* Label1 = nullptr;
  QLineEdit* txtUser = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdCancel = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  Selection& selection_;
  ParallelPortSpi& parallel_;
};

// The address as the dialog shows it: upper-case hex without leading zeros; a negative
// value shows as its four-digit two's complement.
QString PortAddressText(int16_t address);

}  // namespace pemra
