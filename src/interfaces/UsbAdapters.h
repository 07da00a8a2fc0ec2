#pragma once
// Discovery of the USB-to-SPI adapters in the four slots, their board information, the
// selection of one adapter, and the bulk-pipe primitive all adapter traffic goes through.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Message.h"
#include "interfaces/UsbDriver.h"

namespace pemra {

struct AdapterSlot {
  std::string DeviceName;  // "Ezusb-0".."Ezusb-3" once recognised, else empty
  uint8_t UnitByte = 0;
  bool Present = false;
  std::string BoardType = "None";  // "FIFO4", "MCP" or "None"
  std::string Descriptor1Text;
  std::string Descriptor2Text;
  float FirmwareRevision = 0.0f;
  std::string UsbSpeed;  // "1.1" or "2"
};

class UsbAdapters {
 public:
  UsbAdapters(UsbDriver& driver, MessageSink& messages, TraceSink* trace = nullptr);

  UsbDriver::Handle OpenAdapter(const std::string& deviceName);
  void CloseAdapter(UsbDriver::Handle handle);
  // Moves `length` bytes over the pipe in its direction (endpoint address above 0x80:
  // read). Returns 1 on success, -2 without a handle, another value on failure; `length`
  // becomes the count transferred.
  int BulkTransfer(UsbDriver::Handle handle, int pipe, uint8_t* buffer, size_t& length);
  // Text of a string descriptor, "None" without a handle or on failure.
  std::string GetStringDescriptor(UsbDriver::Handle handle, uint8_t index);
  // Maximum packet size of pipe 0..16, 0 on failure.
  uint16_t PipeMaxPacketSize(UsbDriver::Handle handle, int pipe);

  void ScanAdapters();
  void ReadBoardInfo(UsbDriver::Handle handle, int slot);
  void FindAdapters();

  std::array<AdapterSlot, kAdapterSlots> AdapterSlots;
  AdapterSlot SelectedAdapter;
  bool UsbSelected = false;
  int16_t SelectedAdapterIndex = -1;
  int16_t AdapterCount = 0;
  uint8_t UsbSpiDelay = 25;  // set from the link speed by ReadBoardInfo; shared with UsbSpi

  UsbDriver& Driver() { return driver_; }
  MessageSink& Messages() { return messages_; }
  TraceSink* Trace() { return trace_; }

 private:
  UsbDriver& driver_;
  MessageSink& messages_;
  TraceSink* trace_;
  std::vector<UsbPipeInfo> pipes_;  // reused by every transfer, so the hot path does not allocate
  std::string openFailure_;         // the first adapter of the last scan that could not be opened
};

}  // namespace pemra
