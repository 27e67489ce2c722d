#include "emulator/emulated_port.h"

namespace emulator {

namespace {
constexpr std::uint8_t kFloatingBus = 0xFF;
// Control register outputs as a port leaves them after power-up: nInit high, the rest low.
constexpr std::uint8_t kControlPowerUp = 0x04;
}  // namespace

EmulatedPort::EmulatedPort(SpiSlave& slave) : EmulatedPort(slave, Options{}) {}

EmulatedPort::EmulatedPort(SpiSlave& slave, Options options)
    : slave_(slave), options_(std::move(options)) {}

EmulatedPort::Target EmulatedPort::targetOf(std::uint16_t address) const {
    for (std::uint16_t base : options_.bases) {
        if (address == base) {
            return Target::Data;
        }
        if (address == base + kStatusRegisterOffset) {
            return Target::Status;
        }
        if (address == base + kControlRegisterOffset) {
            return Target::Control;
        }
    }
    return Target::None;
}

bool EmulatedPort::writeByte(std::uint16_t address, std::uint8_t value) {
    waitAccessTime();
    if (targetOf(address) == Target::Data) {
        dataLatch_ = static_cast<std::uint8_t>(value);
        slave_.writeDataRegister(dataLatch_);
    }
    return true;
}

bool EmulatedPort::readByte(std::uint16_t address, std::uint8_t& value) {
    waitAccessTime();
    switch (targetOf(address)) {
        case Target::Data:
            value = dataLatch_;
            break;
        case Target::Status:
            value = slave_.statusRegister();
            break;
        case Target::Control:
            value = kControlPowerUp;
            break;
        case Target::None:
            value = kFloatingBus;
            break;
    }
    return true;
}

void EmulatedPort::waitAccessTime() const {
    if (options_.accessDelay.count() == 0) {
        return;
    }
    // A busy-wait: sleeping has a granularity far above a microsecond.
    const auto end = std::chrono::steady_clock::now() + options_.accessDelay;
    while (std::chrono::steady_clock::now() < end) {
    }
}

}  // namespace emulator
