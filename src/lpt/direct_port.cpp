#include "lpt/direct_port.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

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

// What the user can do about a refused ioperm().
std::string refusalAdvice(int error, bool runsAsRoot) {
    switch (error) {
        case EPERM:
        case EACCES:
            if (runsAsRoot) {
                return " (the program runs as root, yet the kernel refused: a container or kernel "
                       "lockdown without CAP_SYS_RAWIO; use --port-io=ppdev)";
            }
            return " (direct port I/O needs root or CAP_SYS_RAWIO: run the program as root, or "
                   "use --port-io=ppdev)";
        case ENOSYS:
            return " (this processor has no I/O port instructions; use --port-io=ppdev)";
        default:
            return {};
    }
}

unsigned systemEffectiveUser() {
    return ::geteuid();
}

}  // namespace

DirectIoCalls DirectIoCalls::system() {
    return {systemPermit, systemOut, systemIn, systemEffectiveUser};
}

DirectPort::DirectPort(DirectIoCalls calls) : calls_(calls) {}

DirectPort::~DirectPort() {
    stop();
}

bool DirectPort::start() {
    stop();
    started_ = true;
    lpt1Refusal_ = requestPort(kLpt1Base);
    lpt1Granted_ = lpt1Refusal_.empty();
    fault_ = lpt1Refusal_;
    // LPT2 is optional: without it, accesses to it are refused quietly.
    lpt2Refusal_ = requestPort(kLpt2Base);
    lpt2Granted_ = lpt2Refusal_.empty();
    return lpt1Granted_;
}

std::string DirectPort::requestPort(std::uint16_t base) {
    if (calls_.permit(base, kRegistersPerPort, 1) == 0) {
        return {};
    }
    const int error = errno;
    return "direct I/O: ioperm for port " + hexAddress(base) + " failed: " + std::strerror(error) +
           refusalAdvice(error, calls_.effectiveUser() == 0);
}

std::string DirectPort::refusal(std::uint16_t address) const {
    if (!started_) {
        return "direct I/O: port access is not started";
    }
    if (withinPort(address, kLpt1Base)) {
        return lpt1Refusal_;
    }
    if (withinPort(address, kLpt2Base)) {
        return lpt2Refusal_;
    }
    return "direct I/O: " + hexAddress(address) + " is no register of LPT1 or LPT2";
}

void DirectPort::stop() {
    started_ = false;
    if (lpt1Granted_) {
        calls_.permit(kLpt1Base, kRegistersPerPort, 0);
        lpt1Granted_ = false;
    }
    if (lpt2Granted_) {
        calls_.permit(kLpt2Base, kRegistersPerPort, 0);
        lpt2Granted_ = false;
    }
}

bool DirectPort::writeByte(std::uint16_t address, std::uint8_t value) {
    if (!granted(address)) {
        fault_ = refusal(address);
        return false;
    }
    calls_.out(static_cast<std::uint8_t>(value), address);
    return true;
}

bool DirectPort::readByte(std::uint16_t address, std::uint8_t& value) {
    if (!granted(address)) {
        fault_ = refusal(address);
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
