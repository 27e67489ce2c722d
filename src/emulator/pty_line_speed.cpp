// The kernel's termios2 structure lives in <asm/termbits.h>, which cannot share a translation
// unit with glibc's <termios.h>: this file uses only the kernel header.
#include "emulator/pty_line_speed.h"

#include <asm/termbits.h>
#include <poll.h>
#include <sys/ioctl.h>

namespace emulator {

namespace {
// Kernel speed constants for the speeds the module knows that have one.
struct BaudConstant {
    std::uint32_t baud;
    unsigned int constant;
};
constexpr BaudConstant kBaudConstants[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};
}  // namespace

std::optional<std::uint32_t> ptySlaveBaud(int masterFd) {
    struct termios2 settings {};
    if (ioctl(masterFd, TCGETS2, &settings) != 0) {
        return std::nullopt;
    }
    return settings.c_ospeed;
}

bool makeRawLine(int slaveFd, std::uint32_t baud) {
    struct termios2 settings {};
    if (ioctl(slaveFd, TCGETS2, &settings) != 0) {
        return false;
    }
    // What cfmakeraw does: no input or output processing, no echo, no canonical mode, 8 bits.
    settings.c_iflag &=
        ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CBAUD);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    unsigned int constant = BOTHER;
    for (const BaudConstant& b : kBaudConstants) {
        if (b.baud == baud) {
            constant = b.constant;
        }
    }
    settings.c_cflag |= constant;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    settings.c_ispeed = settings.c_ospeed = baud;
    return ioctl(slaveFd, TCSETS2, &settings) == 0;
}

bool hasInput(int fd) {
    // The poll waits for the kernel's pending move of written bytes into the input queue.
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

}  // namespace emulator
