// `set` and `get` of camctl: the windows' own settings operations run over controls kept as texts,
// so a script writes exactly what a window writes (the arbitrary-size rule, the waits between the
// writes) and decodes replies exactly as a window's read-backs show them.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/clock.h"
#include "protocol/module_link.h"
#include "protocol/settings.h"

namespace camctl {

enum class LinkKind { Spi, Serial };

enum class SettingName {
    Compression,
    Colour,
    Brightness,
    Red,
    Green,
    Blue,
    Size,
    TestMode,
    SpiMode
};

// One NAME=VALUE of `set`, checked.
struct SettingChange {
    SettingName name = SettingName::Compression;
    int number = 0;    // compression, levels, SPI mode; 1 for black-and-white, 1 for test mode on
    std::string text;  // size: "WxH" as given
};

// The change `assignment` asks for, or why it is refused (a usage error).
struct ParsedSetting {
    std::optional<SettingChange> change;
    std::string error;
};
ParsedSetting parseSetting(std::string_view assignment, LinkKind link);

// The names `set` takes and `get` prints, with their values, for --help.
std::string settingsHelp();

class ModuleSettings {
  public:
    // `switchSpiMode` carries out spi-mode=N (the SPI link's mode switch); empty over serial.
    ModuleSettings(protocol::ModuleLink& link, protocol::Clock& clock, LinkKind kind,
                   std::function<void(int)> switchSpiMode = {});

    // Writes the changes in order. nullopt when all went out, else why the link failed. `notes`
    // gets a line for each value the window's rule changed (an arbitrary size brought into range).
    std::optional<std::string> apply(const std::vector<SettingChange>& changes,
                                     std::vector<std::string>& notes);

    struct Reading {
        std::vector<std::pair<std::string, std::string>> values;  // name, value, in `get` order
        std::optional<std::string> failure;  // the module did not answer, and why
    };
    Reading read();

    ~ModuleSettings();

  private:
    class TextView;
    class ScriptWindow;

    std::optional<std::string> takeFailure();

    protocol::ModuleLink& link_;
    LinkKind kind_;
    std::function<void(int)> switchSpiMode_;
    std::unique_ptr<TextView> view_;
    std::unique_ptr<ScriptWindow> window_;
    std::unique_ptr<protocol::CameraSettings> settings_;
    bool compressionKnown_ = false;  // the texts hold the module's level and colour
};

}  // namespace camctl
