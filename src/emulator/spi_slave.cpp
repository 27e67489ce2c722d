#include "emulator/spi_slave.h"

namespace emulator {

namespace {
constexpr int kBitsPerByte = 8;
constexpr int kMsb = 7;

bool clockIdlesHigh(int mode) {
    return mode >= 2;
}
bool drivesOnLeadingEdge(int mode) {
    return mode == 1 || mode == 3;
}
}  // namespace

SpiSlave::SpiSlave(CameraModule& module) : module_(module) {}

SpiSlave::Lines SpiSlave::decode(std::uint8_t value) {
    return {(value & kSlaveClockLine) != 0, (value & kSlaveSelectLine) == 0,
            (value & kSlaveMosiLine) != 0};
}

void SpiSlave::writeDataRegister(std::uint8_t value) {
    const Lines before = lines_;
    const Lines after = decode(value);
    lines_ = after;

    if (inFrame_ && !after.selected) {
        // Chip select rising ends the frame; a clock edge in the same write no longer reaches the
        // shift register.
        endFrame();
        return;
    }
    if (!inFrame_ && after.selected && !before.selected) {
        beginFrame();
    }
    if (inFrame_ && after.clock != before.clock) {
        const bool leavingIdle = after.clock != clockIdlesHigh(frameMode_);
        clockEdge(leavingIdle, before.mosi);
    }
}

std::uint8_t SpiSlave::statusRegister() const {
    std::uint8_t status = kSlaveOtherStatusLines;
    if (inFrame_ && miso_) {
        status |= kSlaveMisoLine;
    }
    if (module_.ready()) {
        status |= kSlaveReadyLine;
    }
    return status;
}

void SpiSlave::release() {
    inFrame_ = false;
    miso_ = false;
    module_.linkReleased("the PC let go of the parallel port");
}

void SpiSlave::beginFrame() {
    inFrame_ = true;
    frameMode_ = module_.spiMode();
    bitsIn_ = 0;
    shiftIn_ = 0;
    bitsOut_ = 0;
    const CameraModule::OutgoingByte out = module_.takeOutgoing();
    shiftOut_ = out.value;
    outgoingWasQueued_ = out.queued;
    miso_ = false;
    if (!drivesOnLeadingEdge(frameMode_)) {
        driveNextBit();
    }
}

void SpiSlave::endFrame() {
    inFrame_ = false;
    miso_ = false;
    if (bitsOut_ < kBitsPerByte) {
        module_.outgoingByteFinished();  // a byte loaded into the shift register is spent anyway
    }
    if (bitsIn_ != kBitsPerByte) {
        module_.discardPartialByte(bitsIn_);
        return;
    }
    // While the module has a reply or a frame to send, the PC clocks it out with the data line
    // held at 0: that byte is the PC reading, not a request for register 16.
    if (outgoingWasQueued_ && shiftIn_ == 0) {
        return;
    }
    module_.receive(shiftIn_);
}

void SpiSlave::clockEdge(bool leavingIdle, bool mosiBeforeEdge) {
    if (leavingIdle == drivesOnLeadingEdge(frameMode_)) {
        driveNextBit();
    } else {
        sample(mosiBeforeEdge);
    }
}

void SpiSlave::sample(bool level) {
    if (bitsIn_ < kBitsPerByte) {
        shiftIn_ = static_cast<std::uint8_t>((shiftIn_ << 1) | (level ? 1 : 0));
    }
    ++bitsIn_;  // more than eight samples in one frame make the byte invalid
}

void SpiSlave::driveNextBit() {
    if (bitsOut_ >= kBitsPerByte) {
        miso_ = false;
        return;
    }
    miso_ = ((shiftOut_ >> (kMsb - bitsOut_)) & 1) != 0;
    ++bitsOut_;
    if (bitsOut_ == kBitsPerByte) {
        // The eighth bit is on the line: for the last frame byte the ready flag turns to 1 now,
        // with the status read that fetches this bit.
        module_.outgoingByteFinished();
    }
}

}  // namespace emulator
