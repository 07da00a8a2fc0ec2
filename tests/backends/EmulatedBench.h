#pragma once
// A bench of emulated device nodes for the real back ends. umockdev's testbed holds USB
// adapters (the sysfs attributes and descriptors of the simulated adapter and a
// /dev/bus/usb/BBB/DDD node), FTDI boards (an FT232H or FT2232H whose bulk endpoints run an
// MPSSE engine per channel, each IN packet led by the chip's two status bytes), parallel
// ports (/dev/parportN with the /proc and sysfs entries that give its base address) and
// spidev nodes. The ioctls libusb, libftdi, ppdev and spidev send to those nodes (usbdevfs,
// ppdev, SPI_IOC_*) are answered by the simulated rig, so the back ends run their own code
// down to the system calls.
//
// The ioctl handlers run on umockdev's worker thread while the calling thread waits in
// ioctl(); one mutex keeps the rig and the bench's records to one thread at a time. The
// program must run with umockdev's preload library (umockdev-wrapper).

#include <linux/spi/spidev.h>
#include <umockdev.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "interfaces/FtdiDriver.h"
#include "sim/MpsseEngine.h"
#include "sim/Rig.h"
#include "sim/SimulatedSpidev.h"

namespace pemra::test {

// One bulk URB as the emulated adapter finished it.
struct UrbRecord {
  uint8_t endpoint = 0;
  std::vector<uint8_t> bytes;  // sent (OUT) or returned (IN)
  bool operator==(const UrbRecord&) const = default;
};

// How the system tells a parallel port's base address.
enum class PortListing {
  Proc,            // /proc/sys/dev/parport/parportN/base-addr
  SysfsPlatform,   // sysfs only: the port under its platform device "parport_pc.<base>"
  SysfsPnp,        // sysfs only: the port under a PnP device whose resources give the range
};

// Whether umockdev's preload library is loaded (umockdev_in_mock_environment would answer
// for good from the first call, before any testbed exists).
bool PreloadInPlace();

// An FTDI board as its descriptors and strings describe it.
struct FtdiBoard {
  uint16_t productId = kFtdiProductFt232h;  // or kFtdiProductFt2232h (two channels)
  std::string serial = "FT5XYZ12";
  std::string description = "Single RS232-HS";
  uint16_t bcdDevice = 0;  // 0: the H part's (0x0900 FT232H, 0x0700 FT2232H); 0x0500 FT2232D
};

// A vendor request an FTDI board received (the control transfers libftdi makes).
struct FtdiRequest {
  uint8_t request = 0;  // 0 reset/purge, 3 baud rate, 9 latency timer, 0x0B bit mode
  uint16_t value = 0;
  uint16_t index = 0;   // the channel: 1 A, 2 B
  bool operator==(const FtdiRequest&) const = default;
};

// One SPI_IOC_MESSAGE a spidev node ran, and the node's settings then.
struct SpidevMessage {
  std::vector<spi_ioc_transfer> transfers;
  std::vector<uint8_t> tx;  // the bytes sent, all transfers in order
  uint8_t mode = 0;
  uint8_t bits = 0;
  uint32_t speed = 0;
};

// Which string-descriptor requests an adapter answers.
enum class Strings {
  AnyLanguage,      // language 0 too, as the adapters do
  OwnLanguageOnly,  // only requests in its own language (0x0409); language 0 stalls
  None,             // every string request stalls (no strings programmed)
};

class EmulatedBench {
 public:
  explicit EmulatedBench(sim::RigOptions options = DefaultRig());
  ~EmulatedBench();
  EmulatedBench(const EmulatedBench&) = delete;
  EmulatedBench& operator=(const EmulatedBench&) = delete;

  // The rig with no adapter plugged in (AddAdapter plugs them) and a still sensor, so two
  // reads of an output register agree.
  static sim::RigOptions DefaultRig();

  // Plugs in an adapter at a bus and port; the next free slot of the simulated rig answers
  // for it. Returns the adapter's number for the calls below.
  int AddAdapter(int bus, int port, const sim::AdapterOptions& options);
  // The adapter's node leaves (remove event, sysfs and /dev entries gone); every request on a
  // handle still open fails with ENODEV, as the kernel answers for an unplugged device.
  void Unplug(int adapter);
  // After `urbs` more bulk URBs the adapter answers ENODEV, as if pulled out mid-run.
  void FailAfterUrbs(int adapter, int urbs);
  // Claiming the interface fails with EBUSY (another program holds it).
  void RefuseClaim(int adapter, bool refuse = true);
  void AnswerStrings(int adapter, Strings strings);
  // Bulk IN URBs stay pending however long the host waits (the adapter sends nothing).
  void WithholdReplies(int adapter, bool withhold = true);
  // Plugs in an FTDI board; the adapter calls (Unplug, FailAfterUrbs, RefuseClaim,
  // WithholdReplies, Urbs, DevNode) take the number it returns.
  int AddFtdi(int bus, int port, const FtdiBoard& board);
  // The MPSSE engine of a board's channel ('A' or 'B').
  sim::MpsseEngine& FtdiEngine(int adapter, char channel);
  std::vector<FtdiRequest> FtdiRequests(int adapter);

  // A spidev node /dev/<name> listed under /sys/class/spidev; with sixteenBitWords false its
  // controller takes 8-bit words only.
  void AddSpidev(const std::string& name, bool sixteenBitWords = true);
  // After `messages` more messages every request fails with ENODEV (the node is gone).
  void FailSpidevAfter(int messages);
  // The clock of the bench's rig: a session over the emulated nodes waits on it, so the
  // stalls it makes between frames are time on the lines of the port and the spidev node.
  TestClock& SessionClock() { return clock_; }
  // What the node reads back: its mode with these bits added (a GPIO chip select makes some
  // kernels report SPI_CS_HIGH), and this speed instead of the one set (0: the one set).
  void SpidevReadsBack(uint8_t extraModeBits, uint32_t speedHz);
  // A further node listed under /sys/class/spidev, without a device behind it.
  void ListSpidev(const std::string& name);
  std::vector<SpidevMessage> SpidevMessages();
  // The requests other than messages, in order ("WR_MODE 3", "RD_BITS_PER_WORD", ...).
  std::vector<std::string> SpidevRequests();

  // The bulk URBs the adapter finished, in order.
  std::vector<UrbRecord> Urbs(int adapter);
  // How long each discarded IN URB had been pending when the host gave up on it.
  std::vector<std::chrono::steady_clock::duration> DiscardedAfter(int adapter);
  std::string DevNode(int adapter);

  // A parallel port with this base address, listed the given way; its ppdev node is
  // /dev/<name>. The rig's simulated port answers at its own base address.
  void AddParallelPort(const std::string& name, uint16_t base, PortListing listing);
  // PPCLAIM fails with EBUSY (another driver holds the port).
  void RefusePortClaim(bool refuse = true);
  // ppdev requests seen, by kind.
  int PortClaims();
  int PortReleases();

  // The rig, for setting up and checking the sensor while no back end is talking to it.
  std::unique_lock<std::mutex> Lock() { return std::unique_lock(mutex_); }
  sim::Rig& Rig() { return rig_; }
  std::string RootDir() const;

  struct Adapter;  // one emulated USB device (in EmulatedBench.cpp)
  struct Port;     // the emulated parallel port
  struct FtdiChip;  // what makes an emulated USB device an FTDI board
  struct Spidev;    // the emulated spidev node

 private:
  std::mutex mutex_;
  TestClock clock_;
  sim::Rig rig_;
  UMockdevTestbed* testbed_ = nullptr;
  std::vector<std::unique_ptr<Adapter>> adapters_;
  std::unique_ptr<Port> port_;
  std::unique_ptr<Spidev> spidev_;
};

// While alive, the calling thread loses root's right to open files whatever their mode
// (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH), so a node made unreadable refuses root too.
// Capabilities are per thread; nothing else in the process is affected.
class WithoutFileOverride {
 public:
  WithoutFileOverride();
  ~WithoutFileOverride();
  WithoutFileOverride(const WithoutFileOverride&) = delete;
  WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

 private:
  bool dropped_ = false;
  uint32_t savedEffective_[2] = {0, 0};
};

}  // namespace pemra::test
