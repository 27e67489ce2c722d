// The bytes of each exchange with the module as they cross the link, and the three exchanges over
// a ModuleLink: a register write, a command, a query. The links, the settings, the windows and the
// emulated module all build and read the module's bytes here, so both ends agree by construction.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/module_link.h"
#include "protocol/registers.h"

namespace protocol {

// ---- Bytes

// The value bytes of a register (valueLength of them): the value's byte, or high byte then low
// byte for the 16-bit registers.
std::vector<std::uint8_t> valueBytes(Register r, std::uint16_t value);
// The register number, then the value bytes.
std::vector<std::uint8_t> registerWrite(Register r, std::uint16_t value);
// The value that `bytes`, the valueLength(r) value bytes of a write or a reply, stand for.
std::uint16_t valueOfBytes(Register r, std::span<const std::uint8_t> bytes);

// ---- Exchanges

// One send of the register write. The module acknowledges nothing.
void writeRegister(ModuleLink& link, Register r, std::uint16_t value);
// One send of the command byte alone.
void sendCommand(ModuleLink& link, std::uint8_t command);
// The register's request byte, then its valueLength reply bytes (high byte first), as one value.
// nullopt when the link could not make the query or no whole reply came.
std::optional<std::uint16_t> queryRegister(ModuleLink& link, Register r);

// ---- The serial line

// One character on the line: start bit, eight data bits, stop bit.
inline constexpr int kBitsPerCharacter = 10;

// How long `characters` characters take at `baud` (0 taken as 1), truncated to `Duration`.
template <class Duration = std::chrono::steady_clock::duration>
constexpr Duration characterTime(std::uint32_t baud, std::int64_t characters = 1) {
    return std::chrono::duration_cast<Duration>(
               std::chrono::seconds(characters * kBitsPerCharacter)) /
           std::max<std::uint32_t>(baud, 1);
}

}  // namespace protocol
