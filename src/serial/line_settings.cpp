#include "serial/line_settings.h"

#include "protocol/encodings.h"

namespace serial {

std::string lineSettingsFor(std::uint32_t baud) {
    return std::to_string(baud) + std::string(kFramingSuffix);
}

std::string_view trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::optional<protocol::SpeedCode> speedForText(std::string_view speedText) {
    for (const protocol::SpeedCode& row : protocol::kSpeedCodes) {
        if (std::to_string(row.baud) == speedText) {
            return row;
        }
    }
    return std::nullopt;
}

std::optional<std::string> speedTextForCode(std::uint8_t code) {
    if (const auto baud = protocol::baudForSpeedCode(code)) {
        return std::to_string(*baud);
    }
    return std::nullopt;
}

}  // namespace serial
