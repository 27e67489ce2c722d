// Exit statuses that mean the same in all four programs (SPI, comtrak, camctl, camera-emulator).
// They sit in a folder of their own because both the windows' start (ui/) and camctl's command
// line use them, and neither of those may include the other; the session layer below both is
// about driving the module, not about how a program ends. Nothing is below this folder.
// A program's own further statuses stay beside it (camctl's 3 and 130 in camctl/capture_run.h).
#pragma once

namespace startup {

inline constexpr int kExitDone = 0;     // all done; --help or --version answered
inline constexpr int kExitFailure = 1;  // no display; a file, device, port or link that failed
inline constexpr int kExitUsage = 2;    // the command line is wrong; nothing was opened

}  // namespace startup
