#include "interfaces/Session.h"

namespace pemra {

Session::Session(Clock& clock, MessageSink& messages, PortIo& portIo, UsbDriver& usbDriver,
                 TraceSink* trace)
    : clock(clock),
      messages(messages),
      trace(trace),
      portIo(portIo),
      usbDriver(usbDriver),
      parallel(selection, portIo, clock, messages, trace),
      adapters(usbDriver, messages, trace),
      usbSpi(adapters),
      access(table, selection, clock) {
  InitRegisterTable(table);
  access.SetParallelTransport(&parallel);
  access.SetUsbTransport(&usbSpi);
}

bool InterfaceUsable(const Session& session) {
  switch (session.selection.InterfaceType) {
    case 1:
      return true;
    case 2:
      return session.adapters.UsbSelected;
    default:
      return false;
  }
}

}  // namespace pemra
