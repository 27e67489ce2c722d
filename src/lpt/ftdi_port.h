// The parallel port's two operations over an FTDI adapter's MPSSE engine: a data-register write
// is "set data bits low byte" (0x80 value direction), a status-register read is "read data bits
// low byte" (0x81), the pins as lpt/pins.h has them. The SPI link's accesses are the same as on a
// parallel port, so the VCD and the trace see the same; held accesses go out in one USB transfer
// and their answers come back in one, so a byte costs one round trip.
//
// LPT1's addresses reach the adapter; LPT2 has none: its accesses fail as on a port that is not
// open. The data register reads back what was written; other addresses read 0xFF and take
// writes without effect.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lpt/mpsse_channel.h"
#include "lpt/one_time_notice.h"
#include "protocol/port_io.h"

namespace lpt {

class FtdiPort final : public protocol::PortIo, public protocol::HeldAccesses {
  public:
    // MPSSE commands the port sends (FTDI's AN_108).
    static constexpr std::uint8_t kSetLowByte = 0x80;
    static constexpr std::uint8_t kReadLowByte = 0x81;
    static constexpr std::uint8_t kLoopbackOff = 0x85;
    static constexpr std::uint8_t kSendImmediate = 0x87;
    static constexpr std::uint8_t kClockDivideBy5Off = 0x8A;
    static constexpr std::uint8_t kThreePhaseClockOff = 0x8D;
    static constexpr std::uint8_t kAdaptiveClockOff = 0x97;
    static constexpr std::uint8_t kBadCommand = 0xAA;  // answered 0xFA 0xAA: the sync
    static constexpr std::uint8_t kBadCommandEcho = 0xFA;

    explicit FtdiPort(MpsseChannel& channel, std::string name = "FTDI adapter");
    // The port owning its channel, as --port-io=ftdi makes it.
    FtdiPort(std::unique_ptr<MpsseChannel> channel, std::string name);

    bool start() override;
    void stop() override;
    bool writeByte(std::uint16_t address, std::uint8_t value) override;
    bool readByte(std::uint16_t address, std::uint8_t& value) override;
    std::string fault() const override { return fault_; }

    void hold() override { holding_ = true; }
    bool release() override;
    bool sendHeld() override;
    bool takeAnswers() override;

    // USB transfers that waited for answers since the start.
    std::uint64_t roundTrips() const { return roundTrips_; }

  private:
    enum class Register { Data, Status, NoAdapter, None };
    Register registerAt(std::uint16_t address) const;
    bool fail(const std::string& what);
    // Closes the channel when open and forgets every access not made.
    void closeChannel();
    bool noAdapter(std::uint16_t address);
    // Sends what is queued, with "send immediate" when answers are owed.
    bool flush();

    std::unique_ptr<MpsseChannel> ownedChannel_;
    MpsseChannel& channel_;
    std::string name_;
    bool open_ = false;
    bool holding_ = false;
    std::uint8_t dataLatch_ = 0;
    std::string fault_;
    OneTimeNotice noLpt2Notice_;
    std::vector<std::uint8_t> queued_;     // commands not sent yet
    std::vector<std::uint8_t*> owed_;      // where each queued read's answer goes, in order
    std::vector<std::uint8_t*> sentOwed_;  // those of the reads already sent
    std::uint64_t roundTrips_ = 0;
};

}  // namespace lpt
