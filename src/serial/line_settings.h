// Line settings strings ("9600,N,8,1") and the speed box's texts against the module's speed codes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/encodings.h"

namespace serial {

// No parity, 8 data bits, 1 stop bit: the only framing the module knows.
inline constexpr std::string_view kFramingSuffix = ",N,8,1";

// The settings string of a speed, as the operator reads it in messages: 2400 -> "2400,N,8,1".
std::string lineSettingsFor(std::uint32_t baud);

// The text with blanks at both ends removed.
std::string_view trimBlanks(std::string_view text);
// The speed-table row whose text equals `speedText` exactly ("09600" is none).
std::optional<protocol::SpeedCode> speedForText(std::string_view speedText);
// The speed-table text of a code; nullopt for codes that name no speed (0, 8, 12..255).
std::optional<std::string> speedTextForCode(std::uint8_t code);

}  // namespace serial
