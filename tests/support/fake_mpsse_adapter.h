// An FTDI adapter as the MPSSE commands the FTDI port sends see it, in place of libftdi: each
// "set data bits low byte" becomes a write of the data register of `target` (the pins mapped back
// to a parallel port's data bits, bits 3-7 high as the link writes them), each "read data bits
// low byte" a status read whose MISO and ready lines come back on AD2 and AD4. The sync's bad
// command is echoed. It counts the transfers that carry answers, and can be unplugged after a
// number of commands or made to answer the sync wrongly.
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <span>
#include <string>

#include "lpt/ftdi_port.h"
#include "lpt/mpsse_channel.h"
#include "lpt/pins.h"
#include "protocol/port_io.h"

namespace testing_support {

class FakeMpsseAdapter final : public lpt::MpsseChannel {
  public:
    explicit FakeMpsseAdapter(protocol::PortIo& target) : target_(target) {}

    bool open() override { return !unplugged() && target_.start(); }
    void close() override {}
    bool write(std::span<const std::uint8_t> bytes) override {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (unplugged()) {
                return false;
            }
            ++commands;
            i += run(bytes.subspan(i));
        }
        return true;
    }
    bool read(std::span<std::uint8_t> bytes) override {
        if (shortRead && !answers_.empty()) {
            answers_.pop_front();  // one answer lost on the way
        }
        if (unplugged() || answers_.size() < bytes.size()) {
            error_ = unplugged() ? error_ : "short read";
            return false;
        }
        for (std::uint8_t& b : bytes) {
            b = answers_.front();
            answers_.pop_front();
        }
        return true;
    }
    std::string error() const override { return error_; }

    std::size_t commands = 0;
    // From this many commands on, the adapter is gone.
    std::size_t unplugAfter = std::numeric_limits<std::size_t>::max();
    bool echoSyncWrongly = false;
    bool shortRead = false;  // every read lacks an answer

  private:
    bool unplugged() {
        if (commands >= unplugAfter) {
            error_ = "LIBUSB_ERROR_NO_DEVICE: usb bulk write failed";
            return true;
        }
        return false;
    }
    // Runs the command at the front; returns how many of its bytes follow the first.
    std::size_t run(std::span<const std::uint8_t> command) {
        switch (command[0]) {
            case lpt::FtdiPort::kSetLowByte: {
                pins_ = command[1];
                const auto data = static_cast<std::uint8_t>(
                    lpt::kUnusedHighBits | ((pins_ & lpt::kAdapterClockPin) ? lpt::kClockBit : 0) |
                    ((pins_ & lpt::kAdapterMosiPin) ? lpt::kMosiBit : 0) |
                    ((pins_ & lpt::kAdapterSelectPin) ? lpt::kChipSelectBit : 0));
                target_.writeByte(lpt::kLpt1Base, data);
                return 2;
            }
            case lpt::FtdiPort::kReadLowByte: {
                std::uint8_t status = 0;
                target_.readByte(lpt::kLpt1Base + lpt::kStatusOffset, status);
                answers_.push_back(static_cast<std::uint8_t>(
                    (pins_ & lpt::kAdapterOutputs) |
                    ((status & lpt::kMisoBit) ? lpt::kAdapterMisoPin : 0) |
                    ((status & lpt::kReadyBit) ? 0 : lpt::kAdapterBusyPin)));
                return 0;
            }
            case lpt::FtdiPort::kBadCommand:
                answers_.push_back(lpt::FtdiPort::kBadCommandEcho);
                answers_.push_back(echoSyncWrongly ? 0x00 : lpt::FtdiPort::kBadCommand);
                return 0;
            default:
                return 0;  // the clock and loopback settings and "send immediate"
        }
    }

    protocol::PortIo& target_;
    std::uint8_t pins_ = 0;
    std::deque<std::uint8_t> answers_;
    std::string error_;
};

}  // namespace testing_support
