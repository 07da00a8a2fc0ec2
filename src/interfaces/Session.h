#pragma once
// Everything the description calls program-wide, in one object that a front end creates
// and passes by reference. It is handed its back ends (real or simulated) and wires the
// four transports under register access (interfaces 1 to 4).

#include "core/Clock.h"
#include "core/Message.h"
#include "core/RegisterAccess.h"
#include "core/RegisterTable.h"
#include "core/Selection.h"
#include "interfaces/FtdiDriver.h"
#include "interfaces/FtdiSpi.h"
#include "interfaces/ParallelPortSpi.h"
#include "interfaces/PortIo.h"
#include "interfaces/SpidevDriver.h"
#include "interfaces/SpidevSpi.h"
#include "interfaces/UsbAdapters.h"
#include "interfaces/UsbDriver.h"
#include "interfaces/UsbSpi.h"

namespace pemra {

struct Session {
  // Without an FTDI or spidev back end no board or node is ever found.
  Session(Clock& clock, MessageSink& messages, PortIo& portIo, UsbDriver& usbDriver,
          TraceSink* trace = nullptr, FtdiDriver* ftdiDriver = nullptr,
          SpidevDriver* spidevDriver = nullptr);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Clock& clock;
  MessageSink& messages;
  TraceSink* trace;
  PortIo& portIo;
  UsbDriver& usbDriver;

  Selection selection;
  RegisterTable table;  // filled by InitRegisterTable in the constructor
  ParallelPortSpi parallel;
  UsbAdapters adapters;
  UsbSpi usbSpi;
  FtdiSpi ftdi;
  SpidevSpi spidev;
  RegisterAccess access;
};

// True while register access reaches a sensor: the parallel port, or the USB adapter, the
// FTDI channel or the spidev node as long as no failure has deselected it. Without one, reads give 0 and writes send
// nothing, so the windows neither write nor show such "read-backs", and a log ends.
bool InterfaceUsable(const Session& session);

}  // namespace pemra
