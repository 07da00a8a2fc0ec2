#pragma once
// SPI generated bit by bit on a PC parallel port through the inverting interface cable:
// data bit 0 = CS, bit 1 = SCLK, bit 2 = DIN (each inverted), status bit 6 = inverted DOUT.

#include <cstdint>
#include <string>

#include "core/Clock.h"
#include "core/Message.h"
#include "core/RegisterAccess.h"
#include "core/Selection.h"
#include "interfaces/PortIo.h"

namespace pemra {

class ParallelPortSpi final : public RegisterTransport {
 public:
  ParallelPortSpi(const Selection& selection, PortIo& io, Clock& clock, MessageSink& messages,
                  TraceSink* trace = nullptr);

  // Sends one 16-bit frame (67 data-register writes) and stalls 0.1 ms. Only when
  // InterfaceType is 1.
  void ParallelWriteFrame(int32_t frame);
  // Read frame for the address, then a zero frame that clocks the word in. `address` is
  // left masked to 7 bits. 0 and no port access unless InterfaceType is 1.
  int32_t ParallelReadWord(int16_t& address);
  // Lines to idle. Only when InterfaceType is 1.
  void ParallelPortInit();

  // The port-access step (replaces the driver installation): claims the port at
  // PortAddress. On failure shows "The required I/O drivers could not be installed." with
  // the device and the system's reason on a second line. Sets PortIoEnabled on success.
  bool EnablePortAccess();

  bool PortIoEnabled = false;  // port access was gained in this run

  // RegisterTransport
  int32_t ReadWord(int16_t address) override;
  void WriteFramePair(int32_t frameA, int32_t frameB) override;
  // n + 1 frames, each with the usual stall: the read frames of the n addresses, then a frame
  // of zeros (a read of address 0, which changes nothing); frame i + 1 clocks in the word of
  // address i. 0s and no port access unless InterfaceType is 1.
  bool ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) override;

 private:
  uint16_t Base() const;
  // The 67 data-register writes of one frame and the stall after it.
  void SendFrame(int32_t frame);
  // Sends a frame and returns the word clocked in during it: per bit, clock low with the bit
  // on DIN, read DOUT, clock high. Then the stall.
  int32_t ExchangeFrame(uint16_t frame);

  const Selection& selection_;
  PortIo& io_;
  Clock& clock_;
  MessageSink& messages_;
  TraceSink* trace_;
};

}  // namespace pemra
