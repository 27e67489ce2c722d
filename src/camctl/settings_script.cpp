#include "camctl/settings_script.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "protocol/encodings.h"

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

std::optional<std::pair<std::string, std::string>> splitSize(std::string_view text) {
    const auto x = text.find('x');
    if (x == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view width = text.substr(0, x);
    const std::string_view height = text.substr(x + 1);
    if (!decimal(width, 0, 65535) || !decimal(height, 0, 65535)) {
        return std::nullopt;
    }
    return std::pair{std::string(width), std::string(height)};
}

}  // namespace

ParsedSetting parseSetting(std::string_view assignment, LinkKind link) {
    const auto equals = assignment.find('=');
    if (equals == std::string_view::npos) {
        return {std::nullopt, "\"" + std::string(assignment) + "\" is not NAME=VALUE"};
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

// The controls as texts, positions and ticks. Nothing runs on a change: a script's settings are
// written only by what it asks for.
class ModuleSettings::TextView final : public protocol::SettingsView {
  public:
    std::string compressionText() const override { return compression; }
    std::string colourText() const override { return colour; }
    std::string frameSizeText() const override { return frameSize; }
    std::string widthText() const override { return width; }
    std::string heightText() const override { return height; }

    void showCompressionText(const std::string& text) override { compression = text; }
    void showColourText(const std::string& text) override { colour = text; }
    void showFrameSizeText(const std::string& text) override { frameSize = text; }
    void showWidthText(const std::string& text) override { width = text; }
    void showHeightText(const std::string& text) override { height = text; }
    void setSliderPosition(protocol::LevelSlider slider, int position) override {
        sliders[static_cast<std::size_t>(slider)] = position;
    }
    void setArbitrarySizeTicked(bool ticked) override { arbitrary = ticked; }
    void setControlEnabled(protocol::SettingsControl, bool) override {}

    std::string compression, colour, frameSize, width, height;
    std::array<int, protocol::kLevelSliderCount> sliders{};
    bool arbitrary = false;
};

class ModuleSettings::ScriptWindow final : public protocol::SettingsWindow {
  public:
    void setPollingEnabled(bool) override {}
    void selectSpiMode(int mode) override { spiMode = mode; }
    void tellOperator(const std::string&, const std::string& text) override {
        // The read-backs' words for the operator, then (after a line end) the link's own.
        const auto lineEnd = text.find('\n');
        told = lineEnd == std::string::npos ? std::string("no reply within the time limit")
                                            : text.substr(lineEnd + 1);
    }

    std::optional<int> spiMode;
    std::optional<std::string> told;
};

ModuleSettings::ModuleSettings(protocol::ModuleLink& link, protocol::Clock& clock, LinkKind kind,
                               std::function<void(int)> switchSpiMode)
    : link_(link),
      kind_(kind),
      switchSpiMode_(std::move(switchSpiMode)),
      view_(std::make_unique<TextView>()),
      window_(std::make_unique<ScriptWindow>()),
      settings_(std::make_unique<protocol::CameraSettings>(
          link, clock, *view_, *window_,
          kind == LinkKind::Spi ? protocol::kParallelPortPolicy : protocol::kSerialPolicy)) {}

ModuleSettings::~ModuleSettings() = default;

std::optional<std::string> ModuleSettings::takeFailure() {
    if (window_->told) {
        return std::exchange(window_->told, std::nullopt);
    }
    if (const auto fault = link_.takeFault()) {
        return fault->systemText();
    }
    return std::nullopt;
}

std::optional<std::string> ModuleSettings::apply(const std::vector<SettingChange>& changes,
                                                 std::vector<std::string>& notes) {
    link_.beginOperation();
    for (const SettingChange& change : changes) {
        switch (change.name) {
            case SettingName::Compression:
            case SettingName::Colour:
                // One register holds both: the half not given is the module's own.
                if (!compressionKnown_) {
                    settings_->readCompression();
                    if (auto failure = takeFailure()) {
                        return failure;
                    }
                    compressionKnown_ = true;
                }
                if (change.name == SettingName::Compression) {
                    view_->compression = std::to_string(change.number);
                } else {
                    view_->colour = std::string(protocol::colourModeText(
                        change.number != 0 ? protocol::ColourMode::BlackAndWhite
                                           : protocol::ColourMode::Colour));
                }
                settings_->compressionOrColourPicked();
                break;
            case SettingName::Brightness:
                settings_->sliderChanged(protocol::LevelSlider::Brightness, change.number);
                break;
            case SettingName::Red:
                settings_->sliderChanged(protocol::LevelSlider::Red, change.number);
                break;
            case SettingName::Green:
                settings_->sliderChanged(protocol::LevelSlider::Green, change.number);
                break;
            case SettingName::Blue:
                settings_->sliderChanged(protocol::LevelSlider::Blue, change.number);
                break;
            case SettingName::Size:
                if (protocol::standardSizeForText(change.text)) {
                    view_->frameSize = change.text;
                    settings_->standardSizePicked();
                } else {
                    const auto [width, height] = *splitSize(change.text);
                    view_->width = width;
                    view_->height = height;
                    settings_->writeArbitrarySize();
                    const std::string written = view_->width + "x" + view_->height;
                    if (written != change.text) {
                        notes.push_back("size=" + change.text + " written as " + written);
                    }
                }
                break;
            case SettingName::TestMode:
                settings_->testModeToggled(change.number != 0);
                break;
            case SettingName::SpiMode:
                if (switchSpiMode_) {
                    switchSpiMode_(change.number);
                }
                break;
        }
        if (auto failure = takeFailure()) {
            return failure;
        }
    }
    return std::nullopt;
}

ModuleSettings::Reading ModuleSettings::read() {
    Reading reading;
    link_.beginOperation();
    settings_->readCompression();
    reading.failure = takeFailure();
    if (!reading.failure) {
        settings_->readLevels();
        reading.failure = takeFailure();
    }
    if (!reading.failure) {
        settings_->readFrameSize();
        reading.failure = takeFailure();
    }
    if (!reading.failure && kind_ == LinkKind::Spi) {
        window_->spiMode.reset();
        settings_->readSpiMode();
        reading.failure = takeFailure();
    }
    if (reading.failure) {
        return reading;
    }
    compressionKnown_ = true;
    const auto level = [&](std::size_t i) { return std::to_string(view_->sliders[i]); };
    reading.values = {
        {"compression", view_->compression},
        {"colour", std::string(protocol::colourModeOfText(view_->colour) ==
                                       protocol::ColourMode::BlackAndWhite
                                   ? kBlackAndWhiteValue
                                   : kColourValue)},
        {"brightness", level(0)},
        {"red", level(1)},
        {"green", level(2)},
        {"blue", level(3)},
        {"size", view_->arbitrary ? view_->width + "x" + view_->height : view_->frameSize},
    };
    if (kind_ == LinkKind::Spi) {
        // A reply above 3 is no mode.
        reading.values.emplace_back(
            "spi-mode", window_->spiMode ? std::to_string(*window_->spiMode) : std::string("none"));
    }
    return reading;
}

}  // namespace camctl
