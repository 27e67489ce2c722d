#include "serial/line_speed.h"

#include "protocol/encodings.h"
#include "protocol/registers.h"
#include "serial/line_settings.h"

namespace serial {

namespace {
constexpr std::uint8_t kSpeedRequest = protocol::requestByte(protocol::Register::Speed);
}  // namespace

LineSpeed::ModuleSpeed LineSpeed::readModuleSpeed() {
    ModuleSpeed speed;
    if (!link_.prepareQuery()) {
        return speed;
    }
    link_.send(std::span(&kSpeedRequest, 1));
    if (const auto reply = link_.readOne()) {
        speed.answered = true;
        speed.code = *reply;
        speed.text = speedTextForCode(*reply);
    }
    return speed;
}

LineSpeed::WriteOutcome LineSpeed::write(std::string_view boxText) {
    const std::string_view text = trimBlanks(boxText);
    // Sending a code the module does not know and then switching the PC to the typed speed
    // would leave the two at different speeds with no way to reach the module again.
    const auto code = speedCodeForText(text);
    if (!code) {
        return WriteOutcome::NotASpeed;
    }
    link_.writeRegister(protocol::Register::Speed, *code);
    clock_.waitYielding(kModuleSwitchTime);
    return control_.setSettings(lineSettingsFor(text)) ? WriteOutcome::Switched
                                                       : WriteOutcome::LineRefused;
}

void LineSpeed::resetModule() {
    link_.sendCommand(protocol::command::kReset);
    clock_.waitYielding(kModuleSwitchTime);
    control_.setSettings(lineSettingsFor(protocol::kResetBaud));
}

}  // namespace serial
