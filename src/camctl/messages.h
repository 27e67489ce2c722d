// camctl's words for a link fault, in one place: every message that tells why the module could not
// be reached, or stopped answering, takes its text from here.
#pragma once

#include <string>

#include "protocol/link_fault.h"

namespace camctl {

// The link and the system's reason ("LPT1: connection reset", "COM1 (/dev/ttyS0) is not open");
// a module that merely sent nothing in time is "no reply within the time limit".
std::string describe(const protocol::LinkFault& fault);

}  // namespace camctl
