#include "gui/dialogs/frmFtdiSelect.h"

#include "core/Selection.h"
#include "interfaces/FtdiSpi.h"

namespace pemra {

frmFtdiSelect::frmFtdiSelect(FtdiSpi& ftdi, Selection& selection, QWidget* parent)
    : DeviceChoiceDialog(QStringLiteral("Ftdi"), QStringLiteral("FTDI Board Selection"),
                         QStringLiteral("MPSSE channels"),
                         QStringLiteral("No FTDI board found (FT232H, FT2232H or FT4232H)"),
                         parent),
      ftdi_(ftdi),
      selection_(selection) {
  setObjectName(QStringLiteral("frmFtdiSelect"));
  SetClockHz(ftdi_.FtdiSelected ? ftdi_.ClockHz() : ftdi_.MaxClockHz);
}

QStringList frmFtdiSelect::Search(int& current) {
  ftdi_.Scan(false);
  QStringList lines;
  for (const FtdiChannel& c : ftdi_.Channels) {
    lines << QStringLiteral("%1  %2  %3  (%4)")
                 .arg(QString::fromStdString(c.chip), QString::fromStdString(FtdiDeviceText(c)),
                      QString::fromStdString(c.description), QString::fromStdString(c.position));
  }
  // The channel in use, else the saved one, else the first.
  std::string device;
  if (ftdi_.FtdiSelected) {
    device = FtdiDeviceText(ftdi_.SelectedChannel);
  } else if (selection_.InterfaceType == kInterfaceFtdi) {
    device = selection_.Device;
  }
  current = FindFtdiChannel(ftdi_.Channels, device);
  if (current < 0 && !lines.isEmpty()) current = 0;
  return lines;
}

bool frmFtdiSelect::Choose(int row, uint32_t clockHz) {
  if (row < 0 || row >= static_cast<int>(ftdi_.Channels.size())) return false;
  const std::string device = FtdiDeviceText(ftdi_.Channels[static_cast<size_t>(row)]);
  ftdi_.MaxClockHz = clockHz;
  if (!ftdi_.Select(device)) return false;
  selection_.Device = device;
  return true;
}

}  // namespace pemra
