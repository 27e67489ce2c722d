#include "serial/line_settings.h"

#include <charconv>

#include "protocol/encodings.h"

namespace serial {

std::string lineSettingsFor(std::string_view speedText) {
    return std::string(speedText) + std::string(kFramingSuffix);
}

std::string lineSettingsFor(std::uint32_t baud) {
    return lineSettingsFor(std::to_string(baud));
}

std::optional<std::uint32_t> baudOfLineSettings(std::string_view settings) {
    if (!settings.ends_with(kFramingSuffix)) {
        return std::nullopt;
    }
    const std::string_view digits = settings.substr(0, settings.size() - kFramingSuffix.size());
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    std::uint32_t baud = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), baud);
    if (error != std::errc{} || end != digits.data() + digits.size() || baud == 0) {
        return std::nullopt;
    }
    return baud;
}

std::string_view trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::optional<std::uint8_t> speedCodeForText(std::string_view speedText) {
    for (const protocol::SpeedCode& row : protocol::kSpeedCodes) {
        if (std::to_string(row.baud) == speedText) {
            return row.code;
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
