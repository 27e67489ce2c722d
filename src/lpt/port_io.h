// The port-I/O seam: byte-wide reads and writes at I/O addresses, plus start and stop. The SPI
// link reduces to these four operations, so it runs on any back-end that offers them: the
// kernel's ppdev driver, direct port I/O, a socket to an outside simulator, the emulated module,
// or a recording fake in tests.
#pragma once

#include <cstdint>
#include <string>

namespace lpt {

class PortIo {
  public:
    virtual ~PortIo() = default;

    // Starts port access. False when it cannot be had; failureReason() then says why
    // (device, system error, what the user can do about it).
    virtual bool InitializeWinIo() = 0;

    // Stops port access.
    virtual void ShutdownWinIo() = 0;

    // Writes `value` (0..255 here) to I/O address `address`; size is always 1. The link ignores
    // the result: a back-end that has failed goes on quietly.
    virtual bool SetPortVal(std::uint16_t address, std::uint32_t value, int size) = 0;

    // Reads the byte at `address` into `value`; size is always 1.
    virtual bool GetPortVal(std::uint16_t address, std::uint32_t& value, int size) = 0;

    // Why the last InitializeWinIo() failed; empty when it did not.
    virtual std::string failureReason() const { return {}; }
};

}  // namespace lpt
