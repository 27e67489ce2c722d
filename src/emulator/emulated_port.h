// A port-I/O back-end whose parallel port has the emulated module on it: data-register writes
// drive the SPI slave's lines, status-register reads return its MISO and ready flag. Used in
// process by SPI --emulator and behind the socket server of camera-emulator.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "emulator/spi_slave.h"
#include "protocol/port_io.h"

namespace emulator {

// The two standard parallel ports (LPT1, LPT2); the module answers on both unless told otherwise,
// so the PC's port choice does not lose it.
inline constexpr std::uint16_t kFirstPortBase = 0x378;
inline constexpr std::uint16_t kSecondPortBase = 0x278;
inline constexpr std::uint16_t kStatusRegisterOffset = 1;
inline constexpr std::uint16_t kControlRegisterOffset = 2;

class EmulatedPort final : public protocol::PortIo {
  public:
    struct Options {
        std::vector<std::uint16_t> bases{kFirstPortBase, kSecondPortBase};
        // Time every access takes; zero by default. About 1 us models an ISA/LPC port.
        std::chrono::nanoseconds accessDelay{0};
    };

    explicit EmulatedPort(SpiSlave& slave);
    EmulatedPort(SpiSlave& slave, Options options);

    bool start() override { return true; }
    // The PC program let go of the port (SPI's window closed, the socket client went): the slave
    // drops the frame it was sending, so the next program does not get its tail.
    void stop() override { slave_.release(); }
    // Writes to a port's data register reach the slave; writes anywhere else are ignored.
    bool writeByte(std::uint16_t address, std::uint8_t value) override;
    // Status register: the slave's lines. Data register: the last value written (the port reads
    // its own output latch back). Anything else reads as a floating bus, 0xFF.
    bool readByte(std::uint16_t address, std::uint8_t& value) override;

  private:
    enum class Target { Data, Status, Control, None };
    Target targetOf(std::uint16_t address) const;
    void waitAccessTime() const;

    SpiSlave& slave_;
    Options options_;
    std::uint8_t dataLatch_ = 0;
};

}  // namespace emulator
