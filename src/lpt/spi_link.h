// SPI master bit-banged on a PC parallel port: the link state (port, the three patterns of the
// mode in force, the last status byte) and the byte transfers every module operation rests on.
// Nothing here waits, yields or touches the window.
//
// A port access that fails (no port, a connection to a simulator gone) ends the operation in
// progress: every later access of it is skipped, a read that met the fault gives no byte, and the
// fault is kept, naming the port and the reason, until the operator has been told. The next
// operation begins by asking the port back once.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "lpt/pins.h"
#include "protocol/exchange_trace.h"
#include "protocol/module_link.h"
#include "protocol/port_io.h"

namespace lpt {

class SpiLink final : public protocol::ModuleLink {
  public:
    // `trace` may be null; it gets one record per exchange (a send, a reply).
    explicit SpiLink(protocol::PortIo& port, protocol::ExchangeTrace* trace = nullptr);

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

    // The status poll: one status read, no data-register write; the result is kept as the status
    // byte. nullopt while the port is lost (no access is made then: the poll does not reconnect,
    // the operator's next operation does) or when this read fails.
    std::optional<std::uint8_t> pollStatus();
    // One status read for a bench that knows its port works: the status byte after it.
    std::uint8_t readStatus() {
        pollStatus();
        return static_cast<std::uint8_t>(statusByte_);
    }

    // protocol::ModuleLink: every byte is a frame of its own; a reply is clocked in at once.
    void send(std::span<const std::uint8_t> bytes) override;
    std::optional<std::uint8_t> readOne() override;
    std::optional<std::pair<std::uint8_t, std::uint8_t>> readTwo() override;
    void beginOperation() override;
    std::optional<std::string> takeFault() override;

    // True once an access of the operation in progress has failed, or port access has been
    // stopped: the bytes "read" since are none of the module's.
    bool lost() const { return fault_.has_value() || stopped_; }
    // The fault shows that the bytes read since the last confirmReads() may hold answers that
    // came out of turn: none of them is the module's for sure.
    bool readsInDoubt() const { return readsInDoubt_; }
    // After an operation's reads (and now and then in a long one): false, with the fault kept,
    // when the port finds that answers came out of turn.
    bool confirmReads();

    // Reports bytes that came in outside readOne/readTwo (a frame download) to the trace.
    void recordFromModule(std::span<const std::uint8_t> bytes);
    // Puts the fault of the operation in progress into the trace, once, after its real bytes.
    void traceFault();
    bool tracing() const { return trace_ != nullptr; }

    // The port's name for the operator: "LPT1" or "LPT2".
    std::string portName() const;

    std::uint16_t portBase() const { return portBase_; }
    const SpiModePatterns& patterns() const { return patterns_; }
    std::uint32_t statusByte() const { return statusByte_; }
    void setStatusByte(std::uint32_t value) { statusByte_ = value; }
    bool portAccessStopped() const { return stopped_; }
    std::string failureReason() const { return port_.failureReason(); }

  private:
    void writeData(std::uint8_t value);
    std::optional<std::uint8_t> readStatusRegister();
    bool accessAllowed() const { return !stopped_ && !fault_; }
    // An access failed: the operation ends here, and the next one asks the port back first.
    void breakOff(const std::string& reason);

    protocol::PortIo& port_;
    protocol::ExchangeTrace* trace_;
    std::uint16_t portBase_ = kLpt1Base;
    SpiModePatterns patterns_ = kModePatterns[0];
    std::uint32_t statusByte_ = 0;
    bool stopped_ = false;
    // The fault of the operation in progress, whether the operator and the trace have it yet,
    // and whether the port must be asked back before the next operation.
    std::optional<std::string> fault_;
    bool faultTold_ = false;
    bool faultTraced_ = false;
    bool needsRecovery_ = false;
    bool readsInDoubt_ = false;
};

}  // namespace lpt
