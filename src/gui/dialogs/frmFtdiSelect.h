#pragma once
// "FTDI Board Selection": the MPSSE channels of the FTDI boards found, the SPI clock, and the
// choice of one; the chosen channel is opened, set up and kept as the device to save.

#include "gui/kit/DeviceChoiceDialog.h"

namespace pemra {

class FtdiSpi;
struct Selection;

class frmFtdiSelect : public DeviceChoiceDialog {
  Q_OBJECT

 public:
  frmFtdiSelect(FtdiSpi& ftdi, Selection& selection, QWidget* parent = nullptr);

 protected:
  QStringList Search(int& current) override;
  bool Choose(int row, uint32_t clockHz) override;

 private:
  FtdiSpi& ftdi_;
  Selection& selection_;
};

}  // namespace pemra
