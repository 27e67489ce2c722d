#include "lpt/ftdi_port.h"

#include <array>
#include <cstdio>

#include "lpt/pins.h"

namespace lpt {

namespace {

constexpr std::uint8_t kFloatingBus = 0xFF;

std::string hexByte(std::uint8_t b) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

}  // namespace

FtdiPort::FtdiPort(MpsseChannel& channel, std::string name)
    : channel_(channel), name_(std::move(name)) {}

FtdiPort::FtdiPort(std::unique_ptr<MpsseChannel> channel, std::string name)
    : ownedChannel_(std::move(channel)), channel_(*ownedChannel_), name_(std::move(name)) {}

bool FtdiPort::start() {
    stop();
    fault_.clear();
    noLpt2Notice_.rearm();
    if (!channel_.open()) {
        fault_ = name_ + ": " + channel_.error();
        return false;
    }
    // MPSSE at the full 60 MHz base clock, no adaptive or three-phase clocking, no loopback:
    // only the low byte's pins are used, set and read directly.
    const std::array<std::uint8_t, 4> setup = {kClockDivideBy5Off, kAdaptiveClockOff,
                                               kThreePhaseClockOff, kLoopbackOff};
    // A bad command is echoed as 0xFA and itself: the answer that proves the engine is in step.
    const std::array<std::uint8_t, 2> sync = {kBadCommand, kSendImmediate};
    std::array<std::uint8_t, 2> echo{};
    if (!channel_.write(setup) || !channel_.write(sync) || !channel_.read(echo)) {
        return fail(channel_.error());
    }
    if (echo[0] != kBadCommandEcho || echo[1] != kBadCommand) {
        return fail("the MPSSE engine did not echo its sync (" + hexByte(echo[0]) + " " +
                    hexByte(echo[1]) + ", not FA AA)");
    }
    // Chip select high, the clock and data low, until the link sets its idle pattern.
    const std::array<std::uint8_t, 3> idle = {kSetLowByte, kAdapterSelectPin, kAdapterOutputs};
    if (!channel_.write(idle)) {
        return fail(channel_.error());
    }
    open_ = true;
    return true;
}

void FtdiPort::stop() {
    if (open_) {
        flush();
        takeAnswers();
    }
    closeChannel();
}

void FtdiPort::closeChannel() {
    channel_.close();
    open_ = false;
    holding_ = false;
    queued_.clear();
    owed_.clear();
    sentOwed_.clear();
}

FtdiPort::Register FtdiPort::registerAt(std::uint16_t address) const {
    if (address == kLpt1Base) {
        return Register::Data;
    }
    if (address == kLpt1Base + kStatusOffset) {
        return Register::Status;
    }
    if (address >= kLpt2Base && address <= kLpt2Base + 2) {
        return Register::NoAdapter;
    }
    return Register::None;
}

bool FtdiPort::writeByte(std::uint16_t address, std::uint8_t value) {
    const Register target = registerAt(address);
    if (target == Register::NoAdapter) {
        return noAdapter(address);
    }
    if (!open_) {
        return false;
    }
    if (target != Register::Data) {
        return true;  // no other register has a pin
    }
    dataLatch_ = value;
    queued_.insert(queued_.end(), {kSetLowByte, adapterPinsFor(value), kAdapterOutputs});
    return holding_ || flush();
}

bool FtdiPort::readByte(std::uint16_t address, std::uint8_t& value) {
    const Register target = registerAt(address);
    if (target == Register::NoAdapter) {
        value = 0;
        return noAdapter(address);
    }
    if (!open_) {
        value = 0;
        return false;
    }
    if (target != Register::Status) {
        value = target == Register::Data ? dataLatch_ : kFloatingBus;
        return true;
    }
    queued_.push_back(kReadLowByte);
    owed_.push_back(&value);
    return holding_ || (flush() && takeAnswers());
}

bool FtdiPort::release() {
    holding_ = false;
    return flush() && takeAnswers();
}

bool FtdiPort::sendHeld() {
    holding_ = false;
    return flush();
}

bool FtdiPort::flush() {
    if (queued_.empty()) {
        return true;
    }
    if (!owed_.empty()) {
        queued_.push_back(kSendImmediate);  // the answers come back now, not when a buffer fills
    }
    if (!channel_.write(queued_)) {
        return fail(channel_.error());
    }
    queued_.clear();
    sentOwed_.insert(sentOwed_.end(), owed_.begin(), owed_.end());
    owed_.clear();
    return true;
}

bool FtdiPort::takeAnswers() {
    if (sentOwed_.empty()) {
        return true;
    }
    std::vector<std::uint8_t> pins(sentOwed_.size());
    ++roundTrips_;
    if (!channel_.read(pins)) {
        return fail(channel_.error());
    }
    for (std::size_t i = 0; i < pins.size(); ++i) {
        *sentOwed_[i] = statusFromAdapterPins(pins[i]);
    }
    sentOwed_.clear();
    return true;
}

bool FtdiPort::fail(const std::string& what) {
    fault_ = name_ + ": " + what;
    closeChannel();
    return false;
}

bool FtdiPort::noAdapter(std::uint16_t address) {
    fault_ = "LPT2 (" + hexAddress(address) + "): no adapter serves it; the " + name_ + " is LPT1";
    noLpt2Notice_.say(fault_);
    return false;
}

}  // namespace lpt
