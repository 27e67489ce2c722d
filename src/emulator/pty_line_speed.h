// The line speed the PC has set on the slave side of a pseudo-terminal, read through the master:
// on Linux a termios request on a pty master answers with the slave's settings. And what waits to
// be read on either side.
#pragma once

#include <cstdint>
#include <optional>

namespace emulator {

// The output speed in baud, nullopt when the request fails. Read with the termios2 request so
// that speeds without a B constant (14400, 28800), which serial libraries set as custom rates,
// come back as numbers too.
std::optional<std::uint32_t> ptySlaveBaud(int masterFd);

// Puts the slave side in raw mode at `baud` (a B constant speed), so nothing echoes or edits the
// bytes before a PC program opens it and sets its own mode.
bool makeRawLine(int slaveFd, std::uint32_t baud);

// Whether a read of either side would find bytes now. A poll, not FIONREAD: it also counts the
// bytes the kernel has not yet moved into the line's input queue, which FIONREAD misses.
bool hasInput(int fd);

}  // namespace emulator
