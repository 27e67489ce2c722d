// camctl's capture command: frames one after another, each saved whole under its own name and
// reported on a line of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/clock.h"
#include "startup/exit_status.h"

namespace session {
class ModuleSession;
}  // namespace session

namespace camctl {

// camctl's exit statuses besides those of every program (startup/exit_status.h: 0 all done, 1 the
// link failed, 2 a usage error).
inline constexpr int kExitNotWholeJpeg = 3;   // a frame saved is not a whole JPEG
inline constexpr int kExitInterrupted = 130;  // Ctrl-C, once the frame in progress was saved

inline constexpr std::string_view kDefaultPattern = "frame-%03d.jpg";
// -o -: the frames one after another on standard output, an MJPEG stream.
inline constexpr std::string_view kStreamPattern = "-";

// Why a file name pattern cannot be used, or nullopt: at most one %d (with an optional 0 flag and
// width, as %03d), %% for a percent sign, no other conversion.
std::optional<std::string> checkPattern(std::string_view pattern);
// The pattern with the frame number put in.
std::string frameFileName(std::string_view pattern, int frameNumber);
bool patternNumbersFrames(std::string_view pattern);
// Why the frames of `pattern` could not be saved, found before anything goes to the module: the
// folder of its first name must take a new file, as a save writes one beside the name and renames
// it over it (a character device it names is written in place and needs nothing). nullopt when
// they can be.
std::optional<std::string> outputRefusal(std::string_view pattern);

// Whether the frames of `pattern` go to standard output: "-", or a name of the file standard output
// already is (/dev/stdout, /proc/self/fd/1, or the file it was sent to), which a save's rename
// would take away from under it.
bool namesStandardOutput(std::string_view pattern);

// A name as printed on a line of its own: a control character, a backslash and a byte that is no
// part of a UTF-8 character are written C-style (\n, \t, \r, \\, \xHH), so the line stays
// one line and the name's bytes can be had back.
std::string plainName(std::string_view name);
// A JSON string literal of `text`, always valid UTF-8: a control character is written \u00HH, a
// byte that is no part of a UTF-8 character \udcHH (a lone surrogate, which no character is, as
// Python's surrogateescape has it). A name's bytes can be had back: UTF-8 passes as it is.
std::string jsonString(std::string_view text);
// A JSON number when `text` is plain decimal digits, else a string literal.
std::string jsonValue(std::string_view text);

struct CaptureRequest {
    std::string pattern{kDefaultPattern};
    int count = 1;  // 0: no end, until Ctrl-C or the stream's reader goes away
    std::chrono::duration<double> interval{0};
    bool json = false;
};

struct CaptureOutput {
    // The report: a line a frame.
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    // Whether a progress line of the bytes arriving goes to `err`.
    bool progress = false;
    std::string linkName;          // "spi LPT1", "serial /dev/ttyS0", for messages
    std::uint32_t serialBaud = 0;  // the serial line's speed, for the messages; 0 over SPI
    // Where the frames go, whole JPEGs only, one after another, when not -1; the pattern names no
    // file then. The run ends, done, when the stream's reader has gone (SIGPIPE must be ignored).
    int stream = -1;
};

// Runs the frames, each the session's capture and frame read. `interrupted` turning true stops the
// run once the frame in progress is saved. Returns the exit status.
int runCapture(session::ModuleSession& session, protocol::Clock& clock,
               const CaptureRequest& request, const CaptureOutput& output,
               const std::atomic<bool>& interrupted);

}  // namespace camctl
