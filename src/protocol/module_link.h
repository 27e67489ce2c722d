// The link every exchange with the camera module goes through, whatever carries the bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>

namespace protocol {

class ModuleLink {
  public:
    virtual ~ModuleLink() = default;

    // Hands one to three bytes to the link, in order. The module acknowledges nothing.
    virtual void send(std::span<const std::uint8_t> bytes) = 0;

    // Called right after a request byte. nullopt when no reply came in time (a link with no
    // time-out always answers, with whatever the lines showed).
    virtual std::optional<std::uint8_t> readOne() = 0;

    // Called right after request byte 7 or 8: high byte, then low byte, as the module sent them.
    virtual std::optional<std::pair<std::uint8_t, std::uint8_t>> readTwo() = 0;
};

}  // namespace protocol
