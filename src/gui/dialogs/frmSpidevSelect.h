#pragma once
// "SPI Device Selection": the spidev nodes found, the SPI clock, and the choice of one; the
// chosen node is opened, set up and kept as the device to save.

#include "gui/kit/DeviceChoiceDialog.h"

namespace pemra {

class SpidevSpi;
struct Selection;

class frmSpidevSelect : public DeviceChoiceDialog {
  Q_OBJECT

 public:
  frmSpidevSelect(SpidevSpi& spidev, Selection& selection, QWidget* parent = nullptr);

 protected:
  QStringList Search(int& current) override;
  bool Choose(int row, uint32_t clockHz) override;

 private:
  SpidevSpi& spidev_;
  Selection& selection_;
};

}  // namespace pemra
