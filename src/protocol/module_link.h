// The link every exchange with the camera module goes through, whatever carries the bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "protocol/link_fault.h"

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

    // Called before a request byte goes out. A link whose line may still carry bytes the module
    // sends by itself (a frame) waits until they have ended, so that no frame byte is taken for
    // the reply and no reply is stored in the frame. False when the line did not come free in
    // time: the query is not made.
    virtual bool prepareQuery() { return true; }

    // The link's name for messages: "LPT1", "COM2 (/dev/ttyS1)".
    virtual std::string name() const = 0;

    // An operation with the module begins: a fault met by an earlier one is forgotten, and a link
    // that broke tries once to come back. Only the module session calls this, when it opens an
    // operation.
    virtual void beginOperation() {}

    // The fault that ended an exchange since the operation began. Given once; nullopt when there
    // is none (left). Only the module session takes it, when it closes an operation.
    virtual std::optional<LinkFault> takeFault() { return std::nullopt; }
};

}  // namespace protocol
