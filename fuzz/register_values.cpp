// The decoders of the module's replies (compression, speed code, frame size) and of the sizes the
// operator gives: every compression byte and every pair of size bytes decodes to a setting that
// encodes back to what it reads as, and any width and height give an arbitrary size inside its
// limits that the rule keeps as it is.
#include <cstring>

#include "fuzz_script.h"
#include "protocol/encodings.h"
#include "protocol/wire.h"

namespace {

void checkCompression(std::uint8_t reply) {
    const protocol::CompressionSetting setting = protocol::decodeCompression(reply);
    FUZZ_CHECK(setting.level >= 0 && setting.level <= 7);
    const auto encoded = protocol::encodeCompression(setting.level, setting.mode);
    FUZZ_CHECK(encoded && protocol::decodeCompression(*encoded) == setting);
}

// A speed code reply names a speed that has that code, or none.
void checkSpeedCode(std::uint8_t reply) {
    if (const auto baud = protocol::baudForSpeedCode(reply)) {
        FUZZ_CHECK(protocol::speedCodeForBaud(*baud) == reply);
    }
}

void checkSizeReply(std::span<const std::uint8_t, 4> reply) {
    using protocol::Register;
    const protocol::FrameSize size{protocol::valueOfBytes(Register::FrameWidth, reply.first<2>()),
                                   protocol::valueOfBytes(Register::FrameHeight, reply.last<2>())};
    const auto widthBytes = protocol::valueBytes(Register::FrameWidth, size.width);
    const auto heightBytes = protocol::valueBytes(Register::FrameHeight, size.height);
    FUZZ_CHECK(std::equal(widthBytes.begin(), widthBytes.end(), reply.begin()) &&
               std::equal(heightBytes.begin(), heightBytes.end(), reply.begin() + 2));
    if (const auto standard = protocol::standardSizeFor(size)) {
        FUZZ_CHECK(protocol::standardSizeForText(standard->text)->size == size);
    }
}

void checkArbitrarySize(std::int64_t width, std::int64_t height) {
    const protocol::FrameSize size = protocol::arbitraryFrameSize(width, height);
    FUZZ_CHECK(size.width % protocol::kArbitrarySizeStep == 0 &&
               size.height % protocol::kArbitrarySizeStep == 0);
    FUZZ_CHECK(size.width >= protocol::kMinArbitrarySide &&
               size.width <= protocol::kMaxArbitraryWidth);
    FUZZ_CHECK(size.height >= protocol::kMinArbitrarySide &&
               size.height <= protocol::kMaxArbitraryHeight);
    FUZZ_CHECK(protocol::arbitraryFrameSize(size.width, size.height) == size);
}

}  // namespace

// The input: a compression (and speed code) reply byte, four size reply bytes, then a width and a
// height as 64-bit numbers (what a typed text can give, and more).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t bytes[21] = {};
    std::memcpy(bytes, data, std::min(size, sizeof bytes));
    checkCompression(bytes[0]);
    checkSpeedCode(bytes[0]);
    checkSizeReply(std::span<const std::uint8_t, 4>(bytes + 1, 4));
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::memcpy(&width, bytes + 5, sizeof width);
    std::memcpy(&height, bytes + 13, sizeof height);
    checkArbitrarySize(width, height);
    return 0;
}
