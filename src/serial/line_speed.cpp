#include "serial/line_speed.h"

#include "protocol/encodings.h"
#include "protocol/registers.h"
#include "protocol/wire.h"
#include "serial/line_settings.h"

namespace serial {

LineSpeed::ModuleSpeed LineSpeed::readModuleSpeed() {
    ModuleSpeed speed;
    if (const auto reply = protocol::queryRegister(link_, protocol::Register::Speed)) {
        speed.answered = true;
        speed.code = static_cast<std::uint8_t>(*reply);
        speed.text = speedTextForCode(speed.code);
    }
    return speed;
}

LineSpeed::WriteOutcome LineSpeed::write(std::string_view boxText) {
    const std::string_view text = trimBlanks(boxText);
    // Sending a code the module does not know and then switching the PC to the typed speed
    // would leave the two at different speeds with no way to reach the module again.
    const auto speed = speedForText(text);
    if (!speed) {
        return WriteOutcome::NotASpeed;
    }
    protocol::writeRegister(link_, protocol::Register::Speed, speed->code);
    clock_.waitYielding(kModuleSwitchTime);
    return control_.setBaud(speed->baud) ? WriteOutcome::Switched : WriteOutcome::LineRefused;
}

void LineSpeed::resetModule() {
    protocol::sendCommand(link_, protocol::command::kReset);
    clock_.waitYielding(kModuleSwitchTime);
    control_.setBaud(protocol::kResetBaud);
}

}  // namespace serial
