// SPI master bit-banged on a PC parallel port: the link state (port, the three patterns of the
// mode in force, the last status byte) and the byte transfers every module operation rests on.
// Nothing here waits, yields or touches the window.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "lpt/pins.h"
#include "lpt/port_io.h"
#include "protocol/exchange_trace.h"
#include "protocol/module_link.h"

namespace lpt {

class SpiLink final : public protocol::ModuleLink {
  public:
    // `trace` may be null; it gets one record per exchange (a send, a reply).
    explicit SpiLink(PortIo& port, protocol::ExchangeTrace* trace = nullptr);

    // The start: port access first (false when it cannot be had; the caller tells the operator),
    // then the start state, which always follows, whatever port access gave.
    bool startPortAccess();
    // LPT1, mode-0 patterns, and the idle pattern written to the data register.
    void enterStartState();
    // Stops port access; a second call does nothing, so closing mid-download stops it once.
    void stopPortAccess();

    // Port choice by list index: 0 is LPT1, anything else LPT2. Nothing is written at the change.
    void choosePort(int listIndex);

    // Mode switch: register 18 gets `mode` in the mode still in force, then the link takes the
    // new patterns and writes the new idle pattern. Runs in full even when `mode` is in force.
    void switchMode(int mode);

    // One chip-select frame out: 8 x (setup + bit, sample + bit), most significant bit first,
    // then idle. 17 writes.
    void wrtLPTport(std::uint8_t value);
    // One chip-select frame in: 8 x (setup, status read, sample), then idle. 17 writes, 8 reads.
    std::uint8_t read1byteLPTport();
    // Two frames in, each ending with the idle pattern.
    void read2bytesLPTport(std::uint8_t& firstByte, std::uint8_t& secondByte);

    // One status read, no data-register write; the result is kept as the status byte.
    std::uint8_t readStatus();

    // protocol::ModuleLink: every byte is a frame of its own; a reply is clocked in at once.
    void send(std::span<const std::uint8_t> bytes) override;
    std::optional<std::uint8_t> readOne() override;
    std::optional<std::pair<std::uint8_t, std::uint8_t>> readTwo() override;

    // Reports bytes that came in outside readOne/readTwo (a frame download) to the trace.
    void recordFromModule(std::span<const std::uint8_t> bytes);
    bool tracing() const { return trace_ != nullptr; }

    std::uint16_t portBase() const { return portBase_; }
    const SpiModePatterns& patterns() const { return patterns_; }
    std::uint32_t statusByte() const { return statusByte_; }
    void setStatusByte(std::uint32_t value) { statusByte_ = value; }
    bool portAccessStopped() const { return stopped_; }
    std::string failureReason() const { return port_.failureReason(); }

  private:
    void writeData(std::uint8_t value);
    std::uint8_t readStatusRegister();

    PortIo& port_;
    protocol::ExchangeTrace* trace_;
    std::uint16_t portBase_ = kLpt1Base;
    SpiModePatterns patterns_ = kModePatterns[0];
    std::uint32_t statusByte_ = 0;
    bool stopped_ = false;
};

}  // namespace lpt
