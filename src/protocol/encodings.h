// Value encodings of the module's registers, both ways: what the programs write for a control's
// value, and what a reply byte means for the control. Last, the values the module starts with and
// the most bytes a frame holds.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace protocol {

// ---- 16-bit values: high byte first on the wire.
constexpr std::pair<std::uint8_t, std::uint8_t> splitWide(std::uint16_t v) {
    return {static_cast<std::uint8_t>(v / 256), static_cast<std::uint8_t>(v % 256)};
}
constexpr std::uint16_t joinWide(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::uint16_t>(256 * high + low);
}

// ---- Compression register: level in bits 0..2, bit 3 set for black-and-white.
enum class ColourMode { Colour, BlackAndWhite };

inline constexpr int kMaxCompressionLevel = 6;  // the compression box offers 0..6
inline constexpr std::uint8_t kBlackAndWhiteFlag = 8;

// The highest level the register's one byte can carry in this mode (in the list: 0..6).
constexpr int highestCompressionLevel(ColourMode mode) {
    return 255 - (mode == ColourMode::BlackAndWhite ? kBlackAndWhiteFlag : 0);
}
// level + 8 for black-and-white; nullopt when that does not fit one byte (a level below 0, or
// above highestCompressionLevel), since a wrapped value would be another setting.
constexpr std::optional<std::uint8_t> encodeCompression(std::int64_t level, ColourMode mode) {
    if (level < 0 || level > highestCompressionLevel(mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(level +
                                     (mode == ColourMode::BlackAndWhite ? kBlackAndWhiteFlag : 0));
}
struct CompressionSetting {
    int level;  // 0..7
    ColourMode mode;
    friend bool operator==(const CompressionSetting&, const CompressionSetting&) = default;
};
// Any bit above bit 2 reads as black-and-white.
constexpr CompressionSetting decodeCompression(std::uint8_t reply) {
    return {reply % 8,
            reply >= kBlackAndWhiteFlag ? ColourMode::BlackAndWhite : ColourMode::Colour};
}

// ---- Speed register: line speed <-> speed code. Code 8 is no speed (38400 is 9).
struct SpeedCode {
    std::uint32_t baud;
    std::uint8_t code;
};
inline constexpr std::array<SpeedCode, 10> kSpeedCodes{{
    {1200, 1},
    {2400, 2},
    {4800, 3},
    {9600, 4},
    {14400, 5},
    {19200, 6},
    {28800, 7},
    {38400, 9},
    {57600, 10},
    {115200, 11},
}};

constexpr std::optional<std::uint8_t> speedCodeForBaud(std::uint32_t baud) {
    for (const SpeedCode& row : kSpeedCodes) {
        if (row.baud == baud) {
            return row.code;
        }
    }
    return std::nullopt;
}
// nullopt for 0, 8 and 12..255: no speed.
constexpr std::optional<std::uint32_t> baudForSpeedCode(std::uint8_t code) {
    for (const SpeedCode& row : kSpeedCodes) {
        if (row.code == code) {
            return row.baud;
        }
    }
    return std::nullopt;
}

// ---- SPI mode register: 0..3; a reply above 3 is no mode.
inline constexpr int kSpiModeCount = 4;
constexpr std::optional<int> decodeSpiMode(std::uint8_t reply) {
    if (reply < kSpiModeCount) {
        return reply;
    }
    return std::nullopt;
}

// ---- Brightness and R, G, B: register = scale x slider step; a reply gives reply div scale.
inline constexpr int kBrightnessScale = 10;
inline constexpr int kBrightnessMaxStep = 25;
inline constexpr int kColourLevelScale = 4;
inline constexpr int kColourLevelMaxStep = 63;

constexpr std::uint8_t encodeBrightness(int step) {
    return static_cast<std::uint8_t>(kBrightnessScale * step);
}
constexpr int decodeBrightness(std::uint8_t reply) {
    return reply / kBrightnessScale;
}
constexpr std::uint8_t encodeColourLevel(int step) {
    return static_cast<std::uint8_t>(kColourLevelScale * step);
}
constexpr int decodeColourLevel(std::uint8_t reply) {
    return reply / kColourLevelScale;
}

static_assert(kBrightnessScale * kBrightnessMaxStep <= 255, "brightness must fit one byte");
static_assert(kColourLevelScale * kColourLevelMaxStep <= 255, "R, G, B must fit one byte");

// ---- Frame size registers 55 (width) and 56 (height).
struct FrameSize {
    std::uint16_t width;
    std::uint16_t height;
    friend bool operator==(const FrameSize&, const FrameSize&) = default;
};
struct StandardFrameSize {
    std::string_view text;  // as listed in the frame-size box
    FrameSize size;
};
inline constexpr std::array<StandardFrameSize, 4> kStandardFrameSizes{{
    {"352x288", {352, 288}},
    {"320x240", {320, 240}},
    {"176x144", {176, 144}},
    {"160x120", {160, 120}},
}};

// Arbitrary sizes the programs write: multiples of 16, width 32..352, height 32..320.
inline constexpr int kArbitrarySizeStep = 16;
inline constexpr int kMinArbitrarySide = 32;
inline constexpr int kMaxArbitraryWidth = 352;
inline constexpr int kMaxArbitraryHeight = 320;

// The size written for the width and height the operator gave: each side taken down (towards
// zero) to a multiple of 16, then held inside its limits. Standard sizes are written as they are.
constexpr FrameSize arbitraryFrameSize(std::int64_t width, std::int64_t height) {
    const auto side = [](std::int64_t given, std::int64_t maximum) {
        const std::int64_t multiple = given / kArbitrarySizeStep * kArbitrarySizeStep;
        return static_cast<std::uint16_t>(
            std::clamp<std::int64_t>(multiple, kMinArbitrarySide, maximum));
    };
    return {side(width, kMaxArbitraryWidth), side(height, kMaxArbitraryHeight)};
}

// The standard size whose four reply bytes match, or nullopt for an arbitrary size.
constexpr std::optional<StandardFrameSize> standardSizeFor(FrameSize s) {
    for (const StandardFrameSize& row : kStandardFrameSizes) {
        if (row.size == s) {
            return row;
        }
    }
    return std::nullopt;
}
constexpr std::optional<StandardFrameSize> standardSizeForText(std::string_view text) {
    for (const StandardFrameSize& row : kStandardFrameSizes) {
        if (row.text == text) {
            return row;
        }
    }
    return std::nullopt;
}

// ---- The module after power-up or the reset command: what its registers hold, and so the values
// the windows' controls start at, so that a read-back on a fresh module agrees with the window and
// the first frame has the size the window shows.
inline constexpr FrameSize kPowerUpFrameSize{352, 288};
inline constexpr CompressionSetting kPowerUpCompression{2, ColourMode::Colour};
inline constexpr int kPowerUpBrightnessStep = 6;
inline constexpr int kPowerUpColourLevelStep = 31;  // R, G and B alike
inline constexpr int kPowerUpSpiMode = 0;
inline constexpr std::uint32_t kResetBaud = 2400;

// ---- A frame never holds more than this many bytes: the module makes none larger, and the PC
// reads no further.
inline constexpr std::size_t kMaxFrameBytes = 65000;

}  // namespace protocol
