// `set` and `get` of camctl: the settings a script names, checked, written one after another with
// the module session's typed writes (which keep the links' waits), and every setting the module
// can be asked for, read back as the names and values `set` takes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/encodings.h"
#include "protocol/link_fault.h"

namespace session {
class ModuleSession;
class SpiSession;
}  // namespace session

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
    // Over SPI: spi-mode is the SPI link's mode switch, and `get` reads the mode back too.
    explicit ModuleSettings(session::SpiSession& spi);
    // A link with no SPI mode.
    explicit ModuleSettings(session::ModuleSession& session);

    // Writes the changes in order through the session and stops at the first fault. `notes` gets
    // a line for each value the arbitrary-size rule changed.
    std::optional<protocol::LinkFault> apply(const std::vector<SettingChange>& changes,
                                             std::vector<std::string>& notes);

    struct Reading {
        std::vector<std::pair<std::string, std::string>> values;  // name, value, in `get` order
        std::optional<protocol::LinkFault> failure;  // the module did not answer, and why
    };
    Reading read();

  private:
    protocol::Result<void> writeCompression(std::optional<int> level,
                                            std::optional<protocol::ColourMode> mode);
    protocol::Result<void> writeSize(const std::string& text, std::vector<std::string>& notes);

    session::ModuleSession& session_;
    session::SpiSession* spi_ = nullptr;
};

}  // namespace camctl
