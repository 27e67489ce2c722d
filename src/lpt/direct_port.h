// Port access by direct I/O instructions: the kernel grants this process the ports' addresses
// with ioperm(), then every access is one outb/inb. The fastest back-end and the one closest to
// the original hardware setup, but it needs root (or CAP_SYS_RAWIO) and an ISA-style port.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/port_io.h"

namespace lpt {

// The privileged calls, replaceable so tests can refuse permission and watch that no I/O
// instruction runs (one on an address not granted would kill the process).
// The effective user id is asked so that a refusal can be explained: for root, it is the kernel
// (a container, lockdown), not a missing privilege.
struct DirectIoCalls {
    int (*permit)(unsigned long from, unsigned long count, int turnOn);
    void (*out)(std::uint8_t value, std::uint16_t address);
    std::uint8_t (*in)(std::uint16_t address);
    unsigned (*effectiveUser)();
    static DirectIoCalls system();
};

class DirectPort final : public protocol::PortIo {
  public:
    explicit DirectPort(DirectIoCalls calls = DirectIoCalls::system());
    ~DirectPort() override;
    DirectPort(const DirectPort&) = delete;
    DirectPort& operator=(const DirectPort&) = delete;

    // Asks for both ports' registers; succeeds when LPT1's are granted.
    bool start() override;
    void stop() override;
    // False, without touching the port, for an address outside the granted registers.
    bool writeByte(std::uint16_t address, std::uint8_t value) override;
    bool readByte(std::uint16_t address, std::uint8_t& value) override;
    std::string fault() const override { return fault_; }

  private:
    bool granted(std::uint16_t address) const;
    // Asks for one port's registers; empty when granted, else why not.
    std::string requestPort(std::uint16_t base);
    // Why an access to `address` was refused.
    std::string refusal(std::uint16_t address) const;

    DirectIoCalls calls_;
    bool started_ = false;
    bool lpt1Granted_ = false;
    bool lpt2Granted_ = false;
    std::string lpt1Refusal_;
    std::string lpt2Refusal_;
    std::string fault_;
};

}  // namespace lpt
