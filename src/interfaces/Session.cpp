#include "interfaces/Session.h"

namespace pemra {

Session::Session(Clock& clock, MessageSink& messages, PortIo& portIo, UsbDriver& usbDriver,
                 TraceSink* trace, FtdiDriver* ftdiDriver, SpidevDriver* spidevDriver)
    : clock(clock),
      messages(messages),
      trace(trace),
      portIo(portIo),
      usbDriver(usbDriver),
      parallel(selection, portIo, clock, messages, trace),
      adapters(usbDriver, messages, trace),
      usbSpi(adapters),
      ftdi(ftdiDriver, messages, trace),
      spidev(spidevDriver, messages, trace, &clock),
      access(table, selection, clock) {
  InitRegisterTable(table);
  access.SetParallelTransport(&parallel);
  access.SetUsbTransport(&usbSpi);
  access.SetTransport(kInterfaceFtdi, &ftdi);
  access.SetTransport(kInterfaceSpidev, &spidev);
}

bool InterfaceUsable(const Session& session) {
  switch (session.selection.InterfaceType) {
    case 1:
      return true;
    case 2:
      return session.adapters.UsbSelected;
    case kInterfaceFtdi:
      return session.ftdi.FtdiSelected;
    case kInterfaceSpidev:
      return session.spidev.SpidevSelected;
    default:
      return false;
  }
}

}  // namespace pemra
