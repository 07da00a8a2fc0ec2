#include "sim/AdapterFirmware.h"

namespace pemra::sim {

std::vector<uint8_t> AdapterFirmware::TakeReply() {
  std::vector<uint8_t> reply = std::move(*reply_);
  reply_.reset();
  return reply;
}

size_t AdapterFirmware::Receive(const uint8_t* data, size_t length) {
  if (length == 0) {
    ++dropped_;
    return 0;
  }
  switch (data[0]) {
    case firmware::Revision:
      if (length != 1) break;
      reply_ = std::vector<uint8_t>{firmware::kRevisionMajor, firmware::kRevisionMinor};
      return 0;
    case firmware::ReadSetup:
      if (length != 1) break;
      reply_ = std::vector<uint8_t>{delay_, staticBits_};
      return 0;
    case firmware::SetDelay:
      if (length != 2) break;
      delay_ = data[1];
      return 0;
    case firmware::SetBits:
      if (length != 2) break;
      staticBits_ = data[1];
      return 0;
    case firmware::ExchangePos:
    case firmware::ExchangeNeg: {
      if (length < 3) break;
      const size_t n = data[2];
      if (length != 2 * n + 3) break;
      const uint8_t channel = data[1];
      const bool negative = data[0] == firmware::ExchangeNeg;
      lastChannel_ = channel;
      std::vector<uint8_t> reply(2 * n);
      for (size_t i = 0; i < n; ++i) {
        const uint16_t out = uint16_t((data[3 + 2 * i] << 8) | data[4 + 2 * i]);
        uint16_t in = 0xFFFF;
        if (channel == firmware::kSensorChannel && slave_ != nullptr) {
          in = slave_->Transfer(out, true);
        }
        // Sampling on the wrong edge catches every bit one clock early: the word arrives
        // shifted left by one bit, with the idle-high line in bit 0.
        if (negative) in = uint16_t((in << 1) | 1);
        reply[2 * i] = uint8_t(in >> 8);
        reply[2 * i + 1] = uint8_t(in & 0xFF);
      }
      reply_ = std::move(reply);
      return n;
    }
    default:
      break;
  }
  ++dropped_;
  return 0;
}

}  // namespace pemra::sim
