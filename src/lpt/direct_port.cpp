#include "lpt/direct_port.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define LPT_HAS_PORT_INSTRUCTIONS 1
#endif

#include "lpt/pins.h"

namespace lpt {

namespace {

// Data, status and control register of one port.
constexpr unsigned long kRegistersPerPort = 3;

#ifdef LPT_HAS_PORT_INSTRUCTIONS
int systemPermit(unsigned long from, unsigned long count, int turnOn) {
    return ::ioperm(from, count, turnOn);
}
void systemOut(std::uint8_t value, std::uint16_t address) {
    ::outb(value, address);
}
std::uint8_t systemIn(std::uint16_t address) {
    return ::inb(address);
}
#else
// No I/O instructions on this architecture: permission is never granted, so out/in never run.
int systemPermit(unsigned long, unsigned long, int) {
    errno = ENOSYS;
    return -1;
}
void systemOut(std::uint8_t, std::uint16_t) {}
std::uint8_t systemIn(std::uint16_t) {
    return 0;
}
#endif

bool withinPort(std::uint16_t address, std::uint16_t base) {
    return address >= base && address < base + kRegistersPerPort;
}

std::string hexAddress(std::uint16_t address) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%x", address);
    return text;
}

}  // namespace

DirectIoCalls DirectIoCalls::system() {
    return {systemPermit, systemOut, systemIn};
}

DirectPort::DirectPort(DirectIoCalls calls) : calls_(calls) {}

DirectPort::~DirectPort() {
    ShutdownWinIo();
}

bool DirectPort::InitializeWinIo() {
    ShutdownWinIo();
    failureReason_.clear();
    lpt1Granted_ = calls_.permit(kLpt1Base, kRegistersPerPort, 1) == 0;
    if (!lpt1Granted_) {
        const int error = errno;
        failureReason_ = "direct I/O: ioperm for port " + hexAddress(kLpt1Base) +
                         " failed: " + std::strerror(error) +
                         " (direct port I/O needs root or CAP_SYS_RAWIO)";
    }
    // LPT2 is optional: without it, accesses to it are refused quietly.
    lpt2Granted_ = calls_.permit(kLpt2Base, kRegistersPerPort, 1) == 0;
    return lpt1Granted_;
}

void DirectPort::ShutdownWinIo() {
    if (lpt1Granted_) {
        calls_.permit(kLpt1Base, kRegistersPerPort, 0);
        lpt1Granted_ = false;
    }
    if (lpt2Granted_) {
        calls_.permit(kLpt2Base, kRegistersPerPort, 0);
        lpt2Granted_ = false;
    }
}

bool DirectPort::SetPortVal(std::uint16_t address, std::uint32_t value, int /*size*/) {
    if (!granted(address)) {
        return false;
    }
    calls_.out(static_cast<std::uint8_t>(value), address);
    return true;
}

bool DirectPort::GetPortVal(std::uint16_t address, std::uint32_t& value, int /*size*/) {
    if (!granted(address)) {
        value = 0;
        return false;
    }
    value = calls_.in(address);
    return true;
}

bool DirectPort::granted(std::uint16_t address) const {
    return (lpt1Granted_ && withinPort(address, kLpt1Base)) ||
           (lpt2Granted_ && withinPort(address, kLpt2Base));
}

}  // namespace lpt
