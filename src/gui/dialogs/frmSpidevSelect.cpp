#include "gui/dialogs/frmSpidevSelect.h"

#include <algorithm>

#include "core/Selection.h"
#include "interfaces/SpidevSpi.h"

namespace pemra {

frmSpidevSelect::frmSpidevSelect(SpidevSpi& spidev, Selection& selection, QWidget* parent)
    : DeviceChoiceDialog(QStringLiteral("Spidev"), QStringLiteral("SPI Device Selection"),
                         QStringLiteral("SPI devices"),
                         QStringLiteral("No SPI device found (/dev/spidev*)"), parent),
      spidev_(spidev),
      selection_(selection) {
  setObjectName(QStringLiteral("frmSpidevSelect"));
  SetClockHz(spidev_.SpidevSelected ? spidev_.ClockHz() : spidev_.MaxClockHz);
}

QStringList frmSpidevSelect::Search(int& current) {
  spidev_.Scan(false);
  QStringList lines;
  for (const std::string& path : spidev_.Devices) lines << QString::fromStdString(path);
  // The node in use, else the saved one, else the first.
  std::string device;
  if (spidev_.SpidevSelected) {
    device = spidev_.SelectedDevice;
  } else if (selection_.InterfaceType == kInterfaceSpidev) {
    device = selection_.Device;
  }
  const auto at = std::find(spidev_.Devices.begin(), spidev_.Devices.end(), device);
  current = at != spidev_.Devices.end() ? static_cast<int>(at - spidev_.Devices.begin())
                                        : (lines.isEmpty() ? -1 : 0);
  return lines;
}

bool frmSpidevSelect::Choose(int row, uint32_t clockHz) {
  if (row < 0 || row >= static_cast<int>(spidev_.Devices.size())) return false;
  const std::string device = spidev_.Devices[static_cast<size_t>(row)];
  spidev_.MaxClockHz = clockHz;
  if (!spidev_.Select(device)) return false;
  selection_.Device = device;
  return true;
}

}  // namespace pemra
