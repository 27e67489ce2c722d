// camctl's command line: an argument vector of any bytes (the input split at its zero bytes). A
// command line taken holds values the run can use, and any argument, escaped as a file name is
// for the output, stays one line and (in JSON) valid UTF-8.
#include <QString>
#include <algorithm>
#include <string>
#include <vector>

#include "camctl/capture_run.h"
#include "camctl/command_line.h"
#include "fuzz_script.h"

namespace {

// An argument vector longer than this says nothing new about the parser.
constexpr std::size_t kMaxArguments = 64;

bool controlFree(const std::string& text) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

void checkEscapes(const std::string& argument) {
    FUZZ_CHECK(controlFree(camctl::plainName(argument)));
    const std::string json = camctl::jsonString(argument);
    FUZZ_CHECK(controlFree(json) && QString::fromUtf8(json).toUtf8().toStdString() == json);
}

void checkTaken(const camctl::Options& o) {
    FUZZ_CHECK(o.lpt == 1 || o.lpt == 2);
    FUZZ_CHECK(o.mode >= 0 && o.mode < protocol::kSpiModeCount);
    FUZZ_CHECK(protocol::speedCodeForBaud(o.baud).has_value());
    switch (o.command) {
        case camctl::Command::Set:
            FUZZ_CHECK(!o.changes.empty());
            break;
        case camctl::Command::Speed:
            FUZZ_CHECK(!o.speed || protocol::speedCodeForBaud(*o.speed).has_value());
            break;
        case camctl::Command::Capture: {
            const camctl::CaptureRequest& c = o.capture;
            FUZZ_CHECK(!camctl::checkPattern(c.pattern) && c.count >= 1 && c.interval.count() >= 0);
            const std::string first = camctl::frameFileName(c.pattern, 1);
            FUZZ_CHECK(!first.empty());
            FUZZ_CHECK(c.count == 1 || camctl::frameFileName(c.pattern, c.count) != first);
            checkEscapes(first);
            break;
        }
        default:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size && arguments.size() <= kMaxArguments; ++i) {
        if (data[i] == 0) {
            arguments.emplace_back();
        } else {
            arguments.back() += static_cast<char>(data[i]);
        }
    }
    const camctl::ParsedCommandLine parsed = camctl::parseCommandLine(arguments);
    if (parsed.error.empty() && !parsed.help && !parsed.version) {
        checkTaken(parsed.options);
    }
    for (const std::string& argument : arguments) {
        checkEscapes(argument);
    }
    return 0;
}
