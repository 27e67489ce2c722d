#include "camctl/settings_script.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "session/spi_session.h"

namespace camctl {

namespace {

struct NameRow {
    SettingName name;
    std::string_view text;
    std::string_view values;  // for --help and the refusal
    std::string_view note;    // for --help: lines after the values, each starting on a new line
};
constexpr std::array<NameRow, 9> kNames{{
    {SettingName::Compression, "compression", "0..6", ""},
    {SettingName::Colour, "colour", "colour|bw", ""},
    {SettingName::Brightness, "brightness", "0..25", ""},
    {SettingName::Red, "red", "0..63", ""},
    {SettingName::Green, "green", "0..63", ""},
    {SettingName::Blue, "blue", "0..63", ""},
    {SettingName::Size, "size", "WxH",
     "352x288, 320x240, 176x144, 160x120, or another size\n"
     "taken down to a multiple of 16 and into 32..352 x 32..320"},
    {SettingName::TestMode, "test-mode", "on|off", "written only: the module cannot be asked"},
    {SettingName::SpiMode, "spi-mode", "0..3", "over SPI only"},
}};

constexpr std::string_view kColourValue = "colour";
constexpr std::string_view kBlackAndWhiteValue = "bw";

// Plain decimal digits only: a script's typo is refused rather than read as some number.
std::optional<int> decimal(std::string_view text, int lowest, int highest) {
    int value = 0;
    const char* end = text.data() + text.size();
    if (text.empty() || text.size() > 6 || text.front() == '-' || text.front() == '+') {
        return std::nullopt;
    }
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < lowest || value > highest) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::pair<int, int>> splitSize(std::string_view text) {
    const auto x = text.find('x');
    if (x == std::string_view::npos) {
        return std::nullopt;
    }
    const auto width = decimal(text.substr(0, x), 0, 65535);
    const auto height = decimal(text.substr(x + 1), 0, 65535);
    if (!width || !height) {
        return std::nullopt;
    }
    return std::pair{*width, *height};
}

std::string sizeText(protocol::FrameSize size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

}  // namespace

ParsedSetting parseSetting(std::string_view assignment, LinkKind link) {
    const auto equals = assignment.find('=');
    if (equals == std::string_view::npos) {
        // Appended rather than "\"" + std::string(...): GCC 12 falsely warns (-Wrestrict) on a
        // one-character literal prepended to a temporary string.
        return {std::nullopt, std::string{'"'}.append(assignment).append("\" is not NAME=VALUE")};
    }
    const std::string_view nameText = assignment.substr(0, equals);
    const std::string_view value = assignment.substr(equals + 1);
    const NameRow* row = nullptr;
    for (const NameRow& candidate : kNames) {
        if (candidate.text == nameText) {
            row = &candidate;
        }
    }
    if (!row) {
        return {std::nullopt, "no setting is called \"" + std::string(nameText) + "\""};
    }
    if (row->name == SettingName::SpiMode && link != LinkKind::Spi) {
        return {std::nullopt, "spi-mode is a setting of the SPI link only"};
    }
    SettingChange change{row->name, 0, {}};
    bool good = true;
    switch (row->name) {
        case SettingName::Compression:
        case SettingName::Brightness:
        case SettingName::Red:
        case SettingName::Green:
        case SettingName::Blue:
        case SettingName::SpiMode: {
            const int highest =
                row->name == SettingName::Compression  ? protocol::kMaxCompressionLevel
                : row->name == SettingName::Brightness ? protocol::kBrightnessMaxStep
                : row->name == SettingName::SpiMode    ? protocol::kSpiModeCount - 1
                                                       : protocol::kColourLevelMaxStep;
            const auto number = decimal(value, 0, highest);
            good = number.has_value();
            change.number = number.value_or(0);
            break;
        }
        case SettingName::Colour:
            good = value == kColourValue || value == kBlackAndWhiteValue;
            change.number = value == kBlackAndWhiteValue ? 1 : 0;
            break;
        case SettingName::TestMode:
            good = value == "on" || value == "off";
            change.number = value == "on" ? 1 : 0;
            break;
        case SettingName::Size:
            good = splitSize(value).has_value();
            change.text = std::string(value);
            break;
    }
    if (!good) {
        return {std::nullopt, std::string(row->text) + " takes " + std::string(row->values) +
                                  ", not \"" + std::string(value) + "\""};
    }
    return {change, {}};
}

std::string settingsHelp() {
    constexpr std::size_t kNoteColumn = 31;
    std::string help;
    for (const NameRow& row : kNames) {
        std::string line = "  " + std::string(row.text) + "=" + std::string(row.values);
        std::string_view note = row.note;
        while (!note.empty()) {
            line.resize(std::max(line.size() + 1, kNoteColumn), ' ');
            const auto end = note.find('\n');
            line += std::string(note.substr(0, end));
            note = end == std::string_view::npos ? std::string_view() : note.substr(end + 1);
            help += line + "\n";
            line.clear();
        }
        if (!line.empty()) {
            help += line + "\n";
        }
    }
    return help;
}

ModuleSettings::ModuleSettings(session::SpiSession& spi) : session_(spi), spi_(&spi) {}

ModuleSettings::ModuleSettings(session::ModuleSession& session) : session_(session) {}

std::optional<protocol::LinkFault> ModuleSettings::apply(const std::vector<SettingChange>& changes,
                                                         std::vector<std::string>& notes) {
    // Compression and colour are one register: it is written once, where the first of them
    // stands, with the last value given for each half.
    std::optional<int> level;
    std::optional<protocol::ColourMode> mode;
    for (const SettingChange& change : changes) {
        if (change.name == SettingName::Compression) {
            level = change.number;
        } else if (change.name == SettingName::Colour) {
            mode = change.number != 0 ? protocol::ColourMode::BlackAndWhite
                                      : protocol::ColourMode::Colour;
        }
    }
    bool compressionWritten = false;
    for (const SettingChange& change : changes) {
        protocol::Result<void> done;
        switch (change.name) {
            case SettingName::Compression:
            case SettingName::Colour:
                if (!compressionWritten) {
                    compressionWritten = true;
                    done = writeCompression(level, mode);
                }
                break;
            case SettingName::Brightness:
                done = session_.writeLevel(session::Level::Brightness, change.number);
                break;
            case SettingName::Red:
                done = session_.writeLevel(session::Level::Red, change.number);
                break;
            case SettingName::Green:
                done = session_.writeLevel(session::Level::Green, change.number);
                break;
            case SettingName::Blue:
                done = session_.writeLevel(session::Level::Blue, change.number);
                break;
            case SettingName::Size:
                done = writeSize(change.text, notes);
                break;
            case SettingName::TestMode:
                done = session_.writeTestMode(change.number != 0);
                break;
            case SettingName::SpiMode:
                // parseSetting takes spi-mode over the SPI link only.
                if (spi_ != nullptr) {
                    done = spi_->switchMode(change.number);
                }
                break;
        }
        if (!done) {
            return done.fault();
        }
    }
    return std::nullopt;
}

protocol::Result<void> ModuleSettings::writeCompression(std::optional<int> level,
                                                        std::optional<protocol::ColourMode> mode) {
    // The half not given is the module's own.
    if (!level || !mode) {
        const auto module = session_.readCompression();
        if (!module) {
            return module.fault();
        }
        level = level.value_or(module->level);
        mode = mode.value_or(module->mode);
    }
    return session_.writeCompression({*level, *mode});
}

protocol::Result<void> ModuleSettings::writeSize(const std::string& text,
                                                 std::vector<std::string>& notes) {
    if (const auto standard = protocol::standardSizeForText(text)) {
        return session_.writeFrameSize(standard->size);
    }
    const auto [width, height] = *splitSize(text);
    const protocol::FrameSize size = protocol::arbitraryFrameSize(width, height);
    if (sizeText(size) != text) {
        notes.push_back("size=" + text + " written as " + sizeText(size));
    }
    return session_.writeFrameSize(size);
}

ModuleSettings::Reading ModuleSettings::read() {
    // Over SPI the session reads the mode register too.
    const auto read = session_.readSettings();
    if (!read) {
        return {{}, read.fault()};
    }
    const session::Settings& settings = *read;
    Reading reading;
    reading.values = {
        {"compression", std::to_string(settings.compression.level)},
        {"colour", std::string(settings.compression.mode == protocol::ColourMode::BlackAndWhite
                                   ? kBlackAndWhiteValue
                                   : kColourValue)},
        {"brightness", std::to_string(settings.levels.brightness)},
        {"red", std::to_string(settings.levels.red)},
        {"green", std::to_string(settings.levels.green)},
        {"blue", std::to_string(settings.levels.blue)},
        {"size", sizeText(settings.frameSize)},
    };
    if (spi_ != nullptr) {
        // A reply above 3 is no mode.
        reading.values.emplace_back(
            "spi-mode", settings.spiMode ? std::to_string(*settings.spiMode) : std::string("none"));
    }
    return reading;
}

}  // namespace camctl
