#include "lpt/spi_link.h"

#include "protocol/registers.h"

namespace lpt {

namespace {
constexpr int kBitsPerByte = 8;
constexpr int kOnePortByte = 1;  // every access is byte-wide
}  // namespace

SpiLink::SpiLink(PortIo& port, protocol::ExchangeTrace* trace) : port_(port), trace_(trace) {}

bool SpiLink::startPortAccess() {
    stopped_ = false;
    return port_.InitializeWinIo();
}

void SpiLink::enterStartState() {
    portBase_ = kLpt1Base;
    patterns_ = kModePatterns[0];
    writeData(patterns_.idle);
}

void SpiLink::stopPortAccess() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    port_.ShutdownWinIo();
}

void SpiLink::choosePort(int listIndex) {
    portBase_ = listIndex == 0 ? kLpt1Base : kLpt2Base;
}

void SpiLink::switchMode(int mode) {
    const std::uint8_t modeRegisterWrite[] = {protocol::registerNumber(protocol::Register::SpiMode),
                                              static_cast<std::uint8_t>(mode)};
    send(modeRegisterWrite);
    patterns_ = kModePatterns[static_cast<std::size_t>(mode) % kModePatterns.size()];
    writeData(patterns_.idle);
}

void SpiLink::wrtLPTport(std::uint8_t value) {
    for (int bit = kBitsPerByte - 1; bit >= 0; --bit) {
        const std::uint8_t line = (value >> bit) & 1 ? kMosiBit : 0;
        writeData(patterns_.setup + line);
        writeData(patterns_.sample + line);
    }
    writeData(patterns_.idle);
}

std::uint8_t SpiLink::read1byteLPTport() {
    std::uint8_t received = 0;
    for (int i = 0; i < kBitsPerByte; ++i) {
        writeData(patterns_.setup);
        statusByte_ = readStatusRegister();
        writeData(patterns_.sample);
        received = static_cast<std::uint8_t>((received << 1) | ((statusByte_ & kMisoBit) ? 1 : 0));
    }
    writeData(patterns_.idle);
    return received;
}

void SpiLink::read2bytesLPTport(std::uint8_t& firstByte, std::uint8_t& secondByte) {
    firstByte = read1byteLPTport();
    secondByte = read1byteLPTport();
}

std::uint8_t SpiLink::readStatus() {
    statusByte_ = readStatusRegister();
    return static_cast<std::uint8_t>(statusByte_);
}

void SpiLink::send(std::span<const std::uint8_t> bytes) {
    if (trace_ != nullptr) {
        trace_->record(protocol::Direction::ToModule, bytes);
    }
    for (std::uint8_t b : bytes) {
        wrtLPTport(b);
    }
}

std::optional<std::uint8_t> SpiLink::readOne() {
    const std::uint8_t reply = read1byteLPTport();
    recordFromModule(std::span(&reply, 1));
    return reply;
}

std::optional<std::pair<std::uint8_t, std::uint8_t>> SpiLink::readTwo() {
    std::uint8_t reply[2];
    read2bytesLPTport(reply[0], reply[1]);
    recordFromModule(reply);
    return std::pair{reply[0], reply[1]};
}

void SpiLink::recordFromModule(std::span<const std::uint8_t> bytes) {
    if (trace_ != nullptr && !bytes.empty()) {
        trace_->record(protocol::Direction::FromModule, bytes);
    }
}

void SpiLink::writeData(std::uint8_t value) {
    port_.SetPortVal(portBase_, value, kOnePortByte);
}

std::uint8_t SpiLink::readStatusRegister() {
    std::uint32_t value = 0;
    port_.GetPortVal(static_cast<std::uint16_t>(portBase_ + kStatusOffset), value, kOnePortByte);
    return static_cast<std::uint8_t>(value);  // the status register is 8 bits wide
}

}  // namespace lpt
