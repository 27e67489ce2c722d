// The module's line speed and the PC's, kept in step: read the module's speed, switch both (the
// module first, at the old speed, then the PC a second later), and reset the module, after which
// both run at 2400.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/clock.h"
#include "serial/serial_control.h"
#include "serial/serial_link.h"

namespace serial {

class LineSpeed {
  public:
    LineSpeed(SerialControl& control, SerialLink& link, protocol::Clock& clock)
        : control_(control), link_(link), clock_(clock) {}

    struct ModuleSpeed {
        bool answered = false;
        std::uint8_t code = 0;
        // The speed box text of the code; nullopt for a code that names no speed.
        std::optional<std::string> text;
    };
    // Query of the speed register. The PC's line is not touched.
    ModuleSpeed readModuleSpeed();

    enum class WriteOutcome {
        Switched,     // module told, PC followed
        NotASpeed,    // the text names no speed of the table: nothing sent, line unchanged
        LineRefused,  // the module was told, but the PC's line refused the new speed
    };
    // The box text without blanks at its ends must be a speed of the table exactly.
    WriteOutcome write(std::string_view boxText);

    // The reset command at the speed in force, a second for the module, then the PC at 2400.
    void resetModule();

    // The time the module needs to act on a speed change or a reset before the PC follows.
    static constexpr std::chrono::seconds kModuleSwitchTime{1};

  private:
    SerialControl& control_;
    SerialLink& link_;
    protocol::Clock& clock_;
};

}  // namespace serial
