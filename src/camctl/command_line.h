// camctl's command line: which link, global options, one command and its arguments. Nothing is
// opened here; every refusal is a usage error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "camctl/capture_run.h"
#include "camctl/settings_script.h"
#include "protocol/encodings.h"

namespace camctl {

enum class Command { Get, Set, Capture, Speed, Reset };

struct Options {
    LinkKind link = LinkKind::Spi;
    bool emulator = false;
    std::string device;  // --serial=DEVICE, as the bytes given
    std::uint32_t baud = protocol::kResetBaud;
    std::string portIo = "auto";
    int lpt = 1;
    int mode = protocol::kPowerUpSpiMode;
    std::string tracePath;
    std::string vcdPath;           // --vcd=FILE, the SPI link's pins
    bool vcdTimeAccesses = false;  // --vcd-time=accesses: numbered accesses, not nanoseconds
    bool json = false;
    bool quiet = false;

    Command command = Command::Get;
    std::vector<SettingChange> changes;  // set
    CaptureRequest capture;              // capture
    std::optional<std::uint32_t> speed;  // speed BAUD
};

struct ParsedCommandLine {
    Options options;
    bool help = false;
    bool version = false;
    std::string error;  // a usage error when not empty
};

// `arguments` without the program's name.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments);

std::string helpText();

}  // namespace camctl
