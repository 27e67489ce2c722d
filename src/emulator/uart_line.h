// What a UART receives when the sender runs at another speed. The bytes are turned into the line
// level over time (start bit 0, eight data bits least significant first, stop bit 1, sent back to
// back, idle 1 after), and a receiver at its own speed hunts for falling edges and samples the
// middle of each of its bit times, as a real UART does. At equal speeds the bytes come through
// unchanged; otherwise they turn into the garbage a mismatched line gives. A byte whose stop bit
// reads 0 is delivered as 0, the way the Linux tty layer passes a framing error by default.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace emulator {

std::vector<std::uint8_t> receiveAtOtherSpeed(std::span<const std::uint8_t> sent,
                                              std::uint32_t senderBaud, std::uint32_t receiverBaud);

}  // namespace emulator
