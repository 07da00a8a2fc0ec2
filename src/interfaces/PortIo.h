#pragma once
// Back end of the parallel-port transport: one byte in or out at an I/O address.
// PpdevPortIo (Linux ppdev or ioperm) and the simulator's SimulatedPortIo implement it.

#include <cstdint>
#include <string>
#include <vector>

namespace pemra {

// A parallel port the system lists: its name ("parport0") and base address.
struct ParallelPortEntry {
  std::string name;
  uint16_t base = 0;
  bool operator==(const ParallelPortEntry&) const = default;
};

class PortIo {
 public:
  virtual ~PortIo() = default;

  // The ports present, for `scan`; none when the back end cannot tell.
  virtual std::vector<ParallelPortEntry> ListPorts() const { return {}; }

  // Gains access to the port whose base address is `baseAddress` (the step that replaces
  // the driver installation). On failure returns false with the device path (for example
  // "/dev/parport0") and the system's reason (for example "Permission denied: the user is
  // not in group lp").
  virtual bool EnableAccess(uint16_t baseAddress, std::string& device, std::string& reason) = 0;

  // Writes a byte to an I/O address (base = data register, base + 1 = status register).
  virtual void Out(uint16_t address, uint8_t value) = 0;
  // Reads a byte from an I/O address.
  virtual uint8_t In(uint16_t address) = 0;
};

}  // namespace pemra
