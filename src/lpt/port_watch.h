// What the SPI link does at its port, told as it happens: every access that went through (the
// value written, or the value read at the moment it was read), the kind of each byte a frame of
// chip select carries, the end of each operation, and the fault that ends one. A logic-analyzer
// view of the wire (--vcd) is built on it; the link pays one pointer test per access without one.
#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/registers.h"

namespace lpt {

class PortWatch {
  public:
    // What a byte on the wire is part of.
    enum class ByteKind { RegisterWrite, Query, Command, Reply, Frame };

    virtual ~PortWatch() = default;
    virtual void wrote(std::uint16_t address, std::uint8_t value) = 0;
    virtual void read(std::uint16_t address, std::uint8_t value) = 0;
    // The next frame of chip select carries a byte of this kind.
    virtual void byteBegins(ByteKind kind) = 0;
    // An operation of the module session has closed: a good moment to hand over what was seen.
    virtual void operationEnded() = 0;
    // A fault ended the operation in progress; `what` as traces write it.
    virtual void faulted(std::string_view what) = 0;
};

// The kind of a send by its first byte: a register number starts a register write, a request
// byte a query; anything else goes out as a command.
constexpr PortWatch::ByteKind kindOfSend(std::uint8_t first) {
    if (protocol::registerForNumber(first)) {
        return PortWatch::ByteKind::RegisterWrite;
    }
    if (protocol::registerForRequest(first)) {
        return PortWatch::ByteKind::Query;
    }
    return PortWatch::ByteKind::Command;
}

}  // namespace lpt
