// The camera module's register map: register numbers, read-request bytes and command bytes.
// Every exchange with the module starts with one of these bytes.
#pragma once

#include <cstdint>
#include <optional>

namespace protocol {

// Registers. 16..22 hold one byte; 55 and 56 hold 16 bits, sent high byte first.
enum class Register : std::uint8_t {
    Compression = 16,  // compression level (bits 0-2) + black-and-white flag (bit 3)
    Speed = 17,        // speed code of the module's serial line
    SpiMode = 18,      // SPI mode 0..3
    Brightness = 19,   // 10 x brightness step
    Red = 20,          // 4 x R step
    Green = 21,        // 4 x G step
    Blue = 22,         // 4 x B step
    FrameWidth = 55,   // pixels, 16 bits
    FrameHeight = 56,  // pixels, 16 bits
};

inline constexpr Register kAllRegisters[] = {
    Register::Compression, Register::Speed,      Register::SpiMode,
    Register::Brightness,  Register::Red,        Register::Green,
    Register::Blue,        Register::FrameWidth, Register::FrameHeight,
};

constexpr std::uint8_t registerNumber(Register r) {
    return static_cast<std::uint8_t>(r);
}

// 55 and 56 carry a 16-bit value: two value bytes on the way out, two reply bytes on the way in.
constexpr bool isWide(Register r) {
    return r == Register::FrameWidth || r == Register::FrameHeight;
}

constexpr std::uint8_t kFirstWideRequestBase = 48;    // 55 -> 7, 56 -> 8
constexpr std::uint8_t kFirstNarrowRequestBase = 16;  // 16 -> 0 ... 22 -> 6

// The read-request byte that asks the module for a register's value.
constexpr std::uint8_t requestByte(Register r) {
    return static_cast<std::uint8_t>(registerNumber(r) -
                                     (isWide(r) ? kFirstWideRequestBase : kFirstNarrowRequestBase));
}

// The register a read-request byte asks for; nullopt for a byte that is no request.
constexpr std::optional<Register> registerForRequest(std::uint8_t request) {
    for (Register r : kAllRegisters) {
        if (requestByte(r) == request) {
            return r;
        }
    }
    return std::nullopt;
}

// The register a first byte writes; nullopt for a byte that is no register number.
constexpr std::optional<Register> registerForNumber(std::uint8_t number) {
    for (Register r : kAllRegisters) {
        if (registerNumber(r) == number) {
            return r;
        }
    }
    return std::nullopt;
}

// Value bytes of a register: one, or two (high byte first) for the 16-bit registers. A register
// write carries them after the register number; the reply to the register's request byte is them
// alone.
constexpr int valueLength(Register r) {
    return isWide(r) ? 2 : 1;
}

// Commands: one byte, no value.
namespace command {
inline constexpr std::uint8_t kCapture = 64;      // capture and compress one frame
inline constexpr std::uint8_t kFrameRead = 128;   // send the compressed frame right after this byte
inline constexpr std::uint8_t kTestModeOn = 160;  // enter test mode (colour bars)
inline constexpr std::uint8_t kTestModeOff = 161;  // leave test mode
inline constexpr std::uint8_t kReset = 192;        // reset: SPI mode 0, 2400 baud
}  // namespace command

constexpr bool isCommand(std::uint8_t b) {
    return b == command::kCapture || b == command::kFrameRead || b == command::kTestModeOn ||
           b == command::kTestModeOff || b == command::kReset;
}

}  // namespace protocol
