// camctl's words for a link fault, in one place: every message that tells why the module could not
// be reached, or stopped answering, takes its text from here.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/link_fault.h"

namespace session {
struct ModeSearch;
}  // namespace session

namespace camctl {

// The link and the system's reason ("LPT1: connection reset", "COM1 (/dev/ttyS0) is not open");
// a module that merely sent nothing in time is "no reply within the time limit".
std::string describe(const protocol::LinkFault& fault);

// The module's SPI mode was not found on the way to `wanted`: what was read, and what to do.
std::string modeNotFound(int wanted, const session::ModeSearch& search);

// describe() over the serial link at `baud`: a module that sent nothing in time may be at another
// line speed, and the text says how to find it.
std::string describeSerial(const protocol::LinkFault& fault, std::uint32_t baud);

// The serial module did not answer at the reset speed after the reset command.
std::string resetNotTaken(const protocol::LinkFault& fault);

}  // namespace camctl
