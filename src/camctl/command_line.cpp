#include "camctl/command_line.h"

#include <charconv>
#include <set>
#include <string_view>

#include "protocol/encodings.h"
#include "startup/option_bytes.h"

namespace camctl {

namespace {

std::optional<long long> wholeNumber(std::string_view text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> lineSpeed(std::string_view text) {
    const auto value = wholeNumber(text);
    if (!value || *value <= 0 || *value > 115200 ||
        !protocol::speedCodeForBaud(static_cast<std::uint32_t>(*value))) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value);
}

// The speeds of the table from row `first` to before row `end`.
std::string speedList(std::size_t first = 0, std::size_t end = protocol::kSpeedCodes.size()) {
    std::string list;
    for (std::size_t i = first; i < end; ++i) {
        list += (list.empty() ? "" : ", ") + std::to_string(protocol::kSpeedCodes[i].baud);
    }
    return list;
}

bool isCommand(std::string_view word) {
    return word == "get" || word == "set" || word == "capture" || word == "speed" ||
           word == "reset";
}

// The options that take a value and have been given.
using Given = std::set<std::string, std::less<>>;

// True when arguments[i] is `option` ("--name" as "--name=VALUE" or "--name VALUE", "-o" as "-o
// VALUE"): `value` set, or `error` when it has none, an empty one, or was given before. An empty
// value is no default and a second one would silently win, so neither is taken.
bool optionValue(const std::vector<std::string>& arguments, std::size_t& i, std::string_view option,
                 std::string& value, Given& given, std::string& error) {
    using startup::OptionAt;
    OptionAt found = OptionAt::Other;
    if (option.starts_with("--")) {
        found = startup::optionAt(arguments, i, option.substr(2), value);
    } else if (arguments[i] == option) {
        found = i + 1 < arguments.size() ? OptionAt::Value : OptionAt::NoValue;
        value = found == OptionAt::Value ? arguments[++i] : std::string();
    }
    if (found == OptionAt::Other || !error.empty()) {
        return found != OptionAt::Other;
    }
    if (found == OptionAt::NoValue) {
        error = std::string(option) + " needs a value";
    } else if (value.empty()) {
        error = std::string(option) + " has an empty value";
    } else if (!given.emplace(option).second) {
        error = std::string(option) + " is given more than once";
    }
    return true;
}

// A global option at arguments[i]: true when taken (or refused, with `error` set).
bool globalOption(const std::vector<std::string>& arguments, std::size_t& i, Options& o,
                  bool& linkChosen, Given& given, std::string& error) {
    const std::string& a = arguments[i];
    std::string value;
    const auto chooseLink = [&](LinkKind kind) {
        if (linkChosen && error.empty()) {
            error = "choose one link: --serial, --spi or --emulator";
        }
        linkChosen = true;
        o.link = kind;
    };
    if (a == "--spi") {
        chooseLink(LinkKind::Spi);
        return true;
    }
    if (a == "--json" || a == "--quiet") {
        (a == "--json" ? o.json : o.quiet) = true;
        return true;
    }
    if (optionValue(arguments, i, "--serial", value, given, error)) {
        chooseLink(LinkKind::Serial);
        o.device = value;
        return true;
    }
    if (optionValue(arguments, i, "--emulator", value, given, error)) {
        if (value != "spi" && value != "serial" && error.empty()) {
            error = "--emulator takes spi or serial, not \"" + value + "\"";
        }
        chooseLink(value == "serial" ? LinkKind::Serial : LinkKind::Spi);
        o.emulator = true;
        return true;
    }
    if (optionValue(arguments, i, "--baud", value, given, error)) {
        const auto baud = lineSpeed(value);
        if (!baud && error.empty()) {
            error = "--baud takes one of " + speedList() + ", not \"" + value + "\"";
        }
        o.baud = baud.value_or(o.baud);
        return true;
    }
    if (optionValue(arguments, i, "--port-io", value, given, error)) {
        o.portIo = value;
        return true;
    }
    if (optionValue(arguments, i, "--lpt", value, given, error)) {
        if (value != "1" && value != "2" && error.empty()) {
            error = "--lpt takes 1 or 2, not \"" + value + "\"";
        }
        o.lpt = value == "2" ? 2 : 1;
        return true;
    }
    if (optionValue(arguments, i, "--mode", value, given, error)) {
        const auto mode = wholeNumber(value);
        if ((!mode || *mode < 0 || *mode >= protocol::kSpiModeCount) && error.empty()) {
            error = "--mode takes 0 to 3, not \"" + value + "\"";
        }
        o.mode = static_cast<int>(mode.value_or(0));
        return true;
    }
    if (a == "--trace" || a == "--vcd") {
        // The next word is not taken as the file: after "--trace" it is usually the command.
        if (error.empty()) {
            const bool commandNext = i + 1 < arguments.size() && isCommand(arguments[i + 1]);
            error = a + " takes its file as " + a + "=FILE" +
                    (commandNext ? ", and \"" + arguments[i + 1] + "\" is a command" : "");
        }
        return true;
    }
    if (optionValue(arguments, i, "--trace", value, given, error)) {
        o.tracePath = value;
        return true;
    }
    if (optionValue(arguments, i, "--vcd", value, given, error)) {
        o.vcdPath = value;
        return true;
    }
    if (optionValue(arguments, i, "--vcd-time", value, given, error)) {
        if (value != "real" && value != "accesses" && error.empty()) {
            error = "--vcd-time takes real or accesses, not \"" + value + "\"";
        }
        o.vcdTimeAccesses = value == "accesses";
        return true;
    }
    return false;
}

bool captureOption(const std::vector<std::string>& arguments, std::size_t& i, CaptureRequest& c,
                   Given& given, std::string& error) {
    std::string value;
    if (optionValue(arguments, i, "-o", value, given, error)) {
        c.pattern = value;
        return true;
    }
    if (optionValue(arguments, i, "-n", value, given, error)) {
        const auto n = wholeNumber(value);
        if ((!n || *n < 0 || *n > 1000000000) && error.empty()) {
            error = "-n takes a number of frames, or 0 for no end, not \"" + value + "\"";
        }
        c.count = static_cast<int>(n.value_or(1));
        return true;
    }
    if (optionValue(arguments, i, "--interval", value, given, error)) {
        double seconds = -1;
        const char* end = value.data() + value.size();
        const auto [ptr, ec] = std::from_chars(value.data(), end, seconds);
        if ((value.empty() || ec != std::errc() || ptr != end || !(seconds >= 0) ||
             seconds > 1e6) &&
            error.empty()) {
            error = "--interval takes seconds (0 or more), not \"" + value + "\"";
        }
        c.interval = std::chrono::duration<double>(seconds < 0 ? 0 : seconds);
        return true;
    }
    return false;
}

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    ParsedCommandLine parsed;
    Options& o = parsed.options;
    bool linkChosen = false;
    Given given;
    std::optional<std::string> command;
    std::vector<std::string> commandArguments;
    std::string& error = parsed.error;
    for (std::size_t i = 0; i < arguments.size() && error.empty(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--help" || a == "-h") {
            parsed.help = true;
            return parsed;
        }
        if (a == "--version") {
            parsed.version = true;
            return parsed;
        }
        if (globalOption(arguments, i, o, linkChosen, given, error)) {
            continue;
        }
        if (command == "capture" && captureOption(arguments, i, o.capture, given, error)) {
            continue;
        }
        if (a.rfind("-", 0) == 0 && a.size() > 1) {
            error = "unknown option " + a;
        } else if (!command) {
            command = a;
        } else {
            commandArguments.push_back(a);
        }
    }
    if (!error.empty()) {
        return parsed;
    }
    if (!linkChosen) {
        error = "choose a link: --serial=DEVICE, --spi or --emulator=spi|serial";
        return parsed;
    }
    const bool serialLink = o.link == LinkKind::Serial;
    if (!command) {
        error = "no command: get, set, capture, speed or reset";
    } else if (*command == "get" || *command == "reset") {
        o.command = *command == "get" ? Command::Get : Command::Reset;
        if (!commandArguments.empty()) {
            error = *command + " takes no arguments";
        }
    } else if (*command == "set") {
        o.command = Command::Set;
        if (commandArguments.empty()) {
            error = "set needs NAME=VALUE";
        }
        for (const std::string& assignment : commandArguments) {
            ParsedSetting setting = parseSetting(assignment, o.link);
            if (!setting.change) {
                error = setting.error;
                break;
            }
            o.changes.push_back(*setting.change);
        }
    } else if (*command == "capture") {
        o.command = Command::Capture;
        o.capture.json = o.json;
        if (!commandArguments.empty()) {
            error = "capture takes no argument \"" + commandArguments.front() + "\"";
        } else if (const auto refusal = checkPattern(o.capture.pattern)) {
            error = *refusal;
        } else if (o.capture.count != 1 && o.capture.pattern != kStreamPattern &&
                   !patternNumbersFrames(o.capture.pattern)) {
            error =
                "-n other than 1 needs a %d in the file name pattern, or every frame would "
                "replace the one before (-o - streams them on standard output)";
        }
    } else if (*command == "speed") {
        o.command = Command::Speed;
        if (!serialLink) {
            error = "speed is a command of the serial link only";
        } else if (commandArguments.size() > 1) {
            error = "speed takes at most one line speed";
        } else if (commandArguments.size() == 1) {
            o.speed = lineSpeed(commandArguments.front());
            if (!o.speed) {
                error = "speed takes one of " + speedList() + ", not \"" +
                        commandArguments.front() + "\"";
            }
        }
    } else {
        error = "unknown command \"" + *command + "\"";
    }
    if (error.empty() && serialLink && (!o.vcdPath.empty() || given.contains("--vcd-time"))) {
        error = "--vcd and --vcd-time are options of the SPI link";
    }
    // An option of the other link is refused whenever it is given, also at its default value.
    if (error.empty() && !serialLink && given.contains("--baud")) {
        error = "--baud is an option of the serial link";
    }
    if (error.empty() && serialLink && given.contains("--mode")) {
        error = "--mode is an option of the SPI link";
    }
    if (error.empty() && (serialLink || o.emulator) &&
        (given.contains("--lpt") || given.contains("--port-io"))) {
        error = "--port-io and --lpt are options of --spi";
    }
    return parsed;
}

std::string helpText() {
    return "Usage: camctl LINK [--trace=FILE] [--json] [--quiet] COMMAND [ARGS]\n"
           "Drives the JPEG camera module from a script, over SPI on a parallel port or over "
           "RS-232.\n"
           "\n"
           "LINK, one of:\n"
           "  --serial=DEVICE [--baud=N]   RS-232 on DEVICE; N is the PC's speed to open with,\n"
           "                               default 2400: " +
           speedList(0, 5) + ",\n                               " + speedList(5, 10) +
           "\n"
           "  --spi [--port-io=auto|ppdev|direct|unix:PATH|ftdi[:SELECTOR]] [--lpt=1|2]\n"
           "        [--mode=0-3]\n"
           "                               SPI on a parallel port (default auto, LPT1, mode 0;\n"
           "                               the module is found in whatever mode it was left in\n"
           "                               and switched to this one, or status 1)\n"
           "  --emulator=spi|serial        an emulated module in this process behind that link,\n"
           "                               fresh in each run (serial: --baud=N switches it to\n"
           "                               N first; spi: --mode=N to mode N)\n"
           "\n"
           "Commands:\n"
           "  get                          read every setting back, one name=value a line\n"
           "                               (with --json, one object); over SPI it takes about\n"
           "                               4 s: the module needs a second between some reads\n"
           "  set NAME=VALUE...            write settings, in the order given\n"
           "  capture [-o PATTERN] [-n N] [--interval=SECONDS]\n"
           "                               capture, wait 1 s, read, save; PATTERN may hold one\n"
           "                               %d, the frame number from 1 (default frame-%03d.jpg);\n"
           "                               -o - writes the whole JPEGs one after another to\n"
           "                               standard output (an MJPEG stream; the lines go to\n"
           "                               standard error); -n 0 runs until Ctrl-C or the\n"
           "                               stream's reader goes away (status 0 then);\n"
           "                               one line a frame: number, file, bytes, seconds,\n"
           "                               bytes per second, whole JPEG and its size; in a\n"
           "                               file name a control character, a backslash or a\n"
           "                               byte that is no UTF-8 is written \\n, \\t, \\r, \\\\\n"
           "                               or \\xHH (with --json: a control character\n"
           "                               \\u00HH, a byte that is no UTF-8 \\udcHH, as\n"
           "                               Python's surrogateescape reads it back)\n"
           "  speed [BAUD]                 (serial) the module's line speed, or switch the\n"
           "                               module, then the PC, to BAUD\n"
           "  reset                        reset the module (SPI: back to mode 0; serial: back\n"
           "                               to 2400 baud, where it must then answer a query)\n"
           "\n"
           "Settings (set NAME=VALUE; get prints them in this order):\n" +
           settingsHelp() +
           "\n"
           "Options:\n"
           "  --trace=FILE   one line per exchange with the module: time, direction, bytes\n"
           "                 (the file only in this form: \"--trace FILE\" is refused)\n"
           "  --vcd=FILE     (SPI) the port's pins as a VCD for waveform viewers and decoders\n"
           "                 (the file only in this form, as for --trace)\n"
           "  --vcd-time=real|accesses\n"
           "                 VCD times in ns from the start (real, the default) or two steps\n"
           "                 per port access (the same file for the same operations)\n"
           "  --json         get, capture and speed print JSON\n"
           "  --quiet        no progress line on standard error\n"
           "  --help, --version\n"
           "\n"
           "Exit status: 0 all done; 1 the module did not answer, its SPI mode could not be\n"
           "found, or the link failed (the message names the link, the reason and, where\n"
           "there is one, what to try); 2 a usage error; 3 a frame that is not a\n"
           "whole JPEG (it is saved all the same); 130 stopped by Ctrl-C after the frame in\n"
           "progress was saved (a second Ctrl-C ends it at once); 143 (as a shell shows it)\n"
           "ended by SIGTERM (timeout, kill): at once, by the signal, nothing of the frame in\n"
           "progress saved.\n";
}

}  // namespace camctl
