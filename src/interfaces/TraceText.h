#pragma once
// The trace lines of the transports: one per SPI frame ("spi > 3E00 < 1234", "< ----" when
// the transport does not read that frame's answer) and one per bulk transfer
// ("usb > pipe 0: 0D 01 02", "usb < pipe 1: 12 34"). Callers check for a sink first, so
// an untraced session formats nothing.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/Message.h"

namespace pemra {

inline constexpr int32_t kNoAnswer = -1;

// `answer` is the word received during the frame, or kNoAnswer.
void TraceSpiFrame(TraceSink& trace, uint16_t sent, int32_t answer);

// `in` true for bulk IN ("usb <"). `error` non-empty for a failed transfer; it is appended
// as "(failed: <error>)" after whatever bytes did move.
void TraceBulk(TraceSink& trace, bool in, int pipe, const uint8_t* data, size_t length,
               std::string_view error = {});

}  // namespace pemra
