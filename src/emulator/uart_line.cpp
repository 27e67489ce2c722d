#include "emulator/uart_line.h"

#include "protocol/wire.h"

namespace emulator {

namespace {

constexpr int kStartBit = 0;
constexpr int kStopBit = protocol::kBitsPerCharacter - 1;
constexpr std::uint8_t kFramingErrorByte = 0;

// The sender's line, one level per sender bit time; idle (1) before the first and after the last.
class SentLine {
  public:
    explicit SentLine(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint64_t bitCount() const { return bytes_.size() * protocol::kBitsPerCharacter; }

    bool level(std::int64_t bit) const {
        if (bit < 0 || static_cast<std::uint64_t>(bit) >= bitCount()) {
            return true;
        }
        const std::uint64_t inByte = static_cast<std::uint64_t>(bit) % protocol::kBitsPerCharacter;
        if (inByte == kStartBit) {
            return false;
        }
        if (inByte == kStopBit) {
            return true;
        }
        const std::uint8_t byte =
            bytes_[static_cast<std::uint64_t>(bit) / protocol::kBitsPerCharacter];
        return ((byte >> (inByte - 1)) & 1) != 0;
    }

  private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace

std::vector<std::uint8_t> receiveAtOtherSpeed(std::span<const std::uint8_t> sent,
                                              std::uint32_t senderBaud,
                                              std::uint32_t receiverBaud) {
    std::vector<std::uint8_t> received;
    if (senderBaud == 0 || receiverBaud == 0) {
        return received;
    }
    // Time in units of 1 / (2 x senderBaud x receiverBaud) s, so that both bit times and the
    // middle of a receiver bit are whole numbers.
    const std::uint64_t senderBit = 2ull * receiverBaud;
    const std::uint64_t receiverBit = 2ull * senderBaud;
    const std::uint64_t receiverHalfBit = senderBaud;
    const SentLine line(sent);
    auto levelAt = [&](std::uint64_t t) {
        return line.level(static_cast<std::int64_t>(t / senderBit));
    };

    std::uint64_t hunt = 0;  // the receiver looks for a start edge from this time on
    for (;;) {
        // Edges only happen at sender bit boundaries: the first 1 -> 0 step at or after `hunt`.
        std::uint64_t bit = (hunt + senderBit - 1) / senderBit;
        while (bit < line.bitCount() && !(line.level(static_cast<std::int64_t>(bit) - 1) &&
                                          !line.level(static_cast<std::int64_t>(bit)))) {
            ++bit;
        }
        if (bit >= line.bitCount()) {
            return received;
        }
        const std::uint64_t edge = bit * senderBit;
        auto sampleAt = [&](int receiverBitIndex) {
            return levelAt(edge + static_cast<std::uint64_t>(receiverBitIndex) * receiverBit +
                           receiverHalfBit);
        };
        if (sampleAt(kStartBit)) {
            hunt = edge + receiverHalfBit;  // a glitch, not a start bit
            continue;
        }
        std::uint8_t byte = 0;
        for (int i = 1; i < kStopBit; ++i) {
            byte = static_cast<std::uint8_t>(byte | (sampleAt(i) ? 1 : 0) << (i - 1));
        }
        received.push_back(sampleAt(kStopBit) ? byte : kFramingErrorByte);
        hunt = edge + kStopBit * receiverBit + receiverHalfBit;
    }
}

}  // namespace emulator
