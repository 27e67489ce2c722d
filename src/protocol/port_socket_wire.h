// The port-socket protocol between the SPI program and an outside simulator of the port: each
// port access is one message, 'w' + address (low byte, high byte) + value for a write, 'r' +
// address for a read, which the simulator answers with one byte. There is no framing beyond this.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace protocol::port_socket {

inline constexpr std::uint8_t kWriteTag = 'w';
inline constexpr std::uint8_t kReadTag = 'r';
inline constexpr std::size_t kWriteLength = 4;
inline constexpr std::size_t kReadLength = 3;

constexpr std::array<std::uint8_t, kWriteLength> writeMessage(std::uint16_t address,
                                                              std::uint8_t value) {
    return {kWriteTag, static_cast<std::uint8_t>(address & 0xFF),
            static_cast<std::uint8_t>(address >> 8), value};
}

constexpr std::array<std::uint8_t, kReadLength> readMessage(std::uint16_t address) {
    return {kReadTag, static_cast<std::uint8_t>(address & 0xFF),
            static_cast<std::uint8_t>(address >> 8)};
}

// Length of the message that starts with `tag`; 0 for a byte that starts none.
constexpr std::size_t messageLength(std::uint8_t tag) {
    return tag == kWriteTag ? kWriteLength : tag == kReadTag ? kReadLength : 0;
}

// The address of a whole message.
constexpr std::uint16_t addressOf(std::span<const std::uint8_t> message) {
    return static_cast<std::uint16_t>(message[1] | message[2] << 8);
}

}  // namespace protocol::port_socket
