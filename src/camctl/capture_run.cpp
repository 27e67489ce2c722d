#include "camctl/capture_run.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "camctl/jpeg_check.h"
#include "camctl/messages.h"
#include "frames/frame_file.h"
#include "frames/frame_store.h"
#include "session/module_session.h"

namespace camctl {

namespace {

// The conversion of a pattern: where it starts, how long it is, its zero flag and width.
struct Conversion {
    std::size_t at = 0;
    std::size_t length = 0;
    bool zeros = false;
    int width = 0;
};

// Walks the pattern's per-cent signs; false on anything but %%, %d, %0Nd and %Nd.
bool scanPattern(std::string_view pattern, std::optional<Conversion>& found, int& conversions) {
    conversions = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            continue;
        }
        std::size_t j = i + 1;
        if (j < pattern.size() && pattern[j] == '%') {
            i = j;
            continue;
        }
        Conversion c{i, 0, false, 0};
        if (j < pattern.size() && pattern[j] == '0') {
            c.zeros = true;
            ++j;
        }
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && c.width < 100) {
            c.width = c.width * 10 + (pattern[j] - '0');
            ++j;
        }
        if (j >= pattern.size() || pattern[j] != 'd' || c.width >= 100) {
            return false;
        }
        c.length = j + 1 - i;
        found = c;
        ++conversions;
        i = j;
    }
    return true;
}

double secondsOf(protocol::Clock::Duration d) {
    return std::chrono::duration<double>(d).count();
}

void waitInterruptibly(protocol::Clock& clock, std::chrono::duration<double> wait,
                       const std::atomic<bool>& interrupted) {
    const auto end = clock.now() + std::chrono::duration_cast<protocol::Clock::Duration>(wait);
    while (!interrupted && clock.now() < end) {
        clock.waitYielding(
            std::min<protocol::Clock::Duration>(end - clock.now(), std::chrono::milliseconds(100)));
    }
}

// How many bytes the UTF-8 character at text[at] takes; 0 when the bytes there are none: a lone
// continuation byte, a cut or overlong sequence, a surrogate, or a code above U+10FFFF.
std::size_t utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    // The length, and the range of the second byte (the later ones are 0x80..0xBF).
    std::size_t length = 4;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() - at < length || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// `text` with escape(byte) in place of every ASCII byte `special` picks and of every byte that
// is no part of a UTF-8 character; the rest as it is.
template <typename Special, typename Escape>
std::string escapeBytes(std::string_view text, Special special, Escape escape) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = utf8Length(text, i);
        if (length == 0 || (length == 1 && special(byte))) {
            out += escape(byte);
            ++i;
        } else {
            out += text.substr(i, length);
            i += length;
        }
    }
    return out;
}

std::string hexDigits(unsigned char byte) {
    constexpr char kDigits[] = "0123456789abcdef";
    return {kDigits[byte >> 4], kDigits[byte & 0xF]};
}

// Whether the reader of the pipe at `fd` has closed its end: poll(2) tells it as an error at once.
bool readerGone(int fd) {
    pollfd watched{fd, 0, 0};
    return ::poll(&watched, 1, 0) == 1 && (watched.revents & POLLERR) != 0;
}

}  // namespace

bool namesStandardOutput(std::string_view pattern) {
    if (pattern == kStreamPattern) {
        return true;
    }
    struct stat named {};
    struct stat standardOutput {};
    return !patternNumbersFrames(pattern) && ::stat(std::string(pattern).c_str(), &named) == 0 &&
           ::fstat(STDOUT_FILENO, &standardOutput) == 0 && named.st_dev == standardOutput.st_dev &&
           named.st_ino == standardOutput.st_ino;
}

std::optional<std::string> outputRefusal(std::string_view pattern) {
    std::string first = frameFileName(pattern, 1);
    struct stat named {};
    if (::stat(first.c_str(), &named) == 0 && S_ISCHR(named.st_mode)) {
        return std::nullopt;
    }
    // A symbolic link is followed: the new file goes beside the file it names.
    if (char resolved[PATH_MAX]; ::lstat(first.c_str(), &named) == 0 && S_ISLNK(named.st_mode) &&
                                 ::realpath(first.c_str(), resolved) != nullptr) {
        first = resolved;
    }
    const auto slash = first.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : first.substr(0, slash));
    std::string probe = folder + "/.camctl-XXXXXX";
    std::vector<char> name(probe.begin(), probe.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        return "cannot save frames in " + plainName(folder) + ": " + std::strerror(errno);
    }
    ::close(fd);
    ::unlink(name.data());
    return std::nullopt;
}

std::optional<std::string> checkPattern(std::string_view pattern) {
    std::optional<Conversion> found;
    int conversions = 0;
    if (pattern.empty()) {
        return "the file name pattern is empty";
    }
    if (!scanPattern(pattern, found, conversions)) {
        return "the file name pattern may hold %d (or %03d) and %%, no other %";
    }
    if (conversions > 1) {
        return "the file name pattern holds more than one %d";
    }
    return std::nullopt;
}

bool patternNumbersFrames(std::string_view pattern) {
    std::optional<Conversion> found;
    int conversions = 0;
    return scanPattern(pattern, found, conversions) && conversions == 1;
}

std::string frameFileName(std::string_view pattern, int frameNumber) {
    std::optional<Conversion> found;
    int conversions = 0;
    scanPattern(pattern, found, conversions);
    std::string name;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (found && i == found->at) {
            std::string digits = std::to_string(frameNumber);
            const auto width = static_cast<std::size_t>(found->width);
            if (digits.size() < width) {
                digits.insert(0, width - digits.size(), found->zeros ? '0' : ' ');
            }
            name += digits;
            i += found->length - 1;
        } else if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == '%') {
            name += '%';
            ++i;
        } else {
            name += pattern[i];
        }
    }
    return name;
}

std::string plainName(std::string_view name) {
    return escapeBytes(
        name, [](unsigned char byte) { return byte < 0x20 || byte == 0x7F || byte == '\\'; },
        [](unsigned char byte) -> std::string {
            switch (byte) {
                case '\n':
                    return "\\n";
                case '\t':
                    return "\\t";
                case '\r':
                    return "\\r";
                case '\\':
                    return "\\\\";
                default:
                    return "\\x" + hexDigits(byte);
            }
        });
}

std::string jsonString(std::string_view text) {
    // Appended to one string: GCC 12 falsely warns (-Wrestrict) on "\"" + a temporary string.
    std::string json{'"'};
    json += escapeBytes(
        text, [](unsigned char byte) { return byte < 0x20 || byte == '"' || byte == '\\'; },
        [](unsigned char byte) {
            if (byte == '"' || byte == '\\') {
                return std::string{'\\', static_cast<char>(byte)};
            }
            // A byte that is no UTF-8 (only those come here above 0x7f) as the lone surrogate
            // U+DCxx, as Python's surrogateescape reads it back: no character escapes so.
            return (byte < 0x80 ? "\\u00" : "\\udc") + hexDigits(byte);
        });
    json += '"';
    return json;
}

std::string jsonValue(std::string_view text) {
    const bool digits = !text.empty() && text.size() < 10 &&
                        text.find_first_not_of("0123456789") == std::string_view::npos;
    return digits ? std::string(text) : jsonString(text);
}

int runCapture(session::ModuleSession& session, protocol::Clock& clock,
               const CaptureRequest& request, const CaptureOutput& output,
               const std::atomic<bool>& interrupted) {
    frames::FrameStore store;
    int status = startup::kExitDone;
    const bool streaming = output.stream >= 0;
    for (int n = 1; request.count == 0 || n <= request.count; ++n) {
        if (interrupted) {
            return kExitInterrupted;
        }
        if (n > 1 && request.interval.count() > 0) {
            waitInterruptibly(clock, request.interval, interrupted);
            if (interrupted) {
                return kExitInterrupted;
            }
        }
        // A reader that went away between frames is seen before the next one is asked for.
        if (streaming && readerGone(output.stream)) {
            return status;
        }
        store.clear();
        session::FetchProgress progress;
        if (output.progress) {
            progress.counted = [&output, n, shown = std::uint32_t{0}](std::uint32_t count) mutable {
                // Every 512 bytes: a terminal that repaints per byte would slow the download.
                if (count >= shown + 512) {
                    shown = count;
                    std::fprintf(output.err, "\rframe %d: %" PRIu32 " bytes", n, count);
                    std::fflush(output.err);
                }
            };
        }
        const auto fetched = session.captureAndRead(store, progress);
        if (output.progress) {
            std::fprintf(output.err, "\r\033[K");
            std::fflush(output.err);
        }
        const std::string file =
            streaming ? std::string(kStreamPattern) : frameFileName(request.pattern, n);
        if (!fetched) {
            // What did come stays out of the final name: a frame cut by the link is no frame.
            std::fprintf(
                output.err, "camctl: %s: frame %d: %s (%" PRIu32 " bytes received)\n",
                output.linkName.c_str(), n,
                (output.serialBaud != 0 ? describeSerial(fetched.fault(), output.serialBaud)
                                        : describe(fetched.fault()))
                    .c_str(),
                store.count());
            return startup::kExitFailure;
        }
        const JpegCheck jpeg = checkJpeg(store.frame());
        if (streaming) {
            // A frame that is no whole JPEG would break the stream's next frame for its reader.
            if (jpeg.whole()) {
                if (const auto error = frames::writeAll(output.stream, store.frame())) {
                    if (readerGone(output.stream)) {
                        return status;  // the reader has all it wanted
                    }
                    std::fprintf(output.err, "camctl: cannot write the stream: %s\n",
                                 error->c_str());
                    return startup::kExitFailure;
                }
            }
        } else if (const auto error = frames::writeFrameFile(file, store.frame())) {
            std::fprintf(output.err, "camctl: cannot write %s: %s\n", plainName(file).c_str(),
                         error->c_str());
            return startup::kExitFailure;
        }
        const double seconds = secondsOf(fetched->transferTime);
        const double rate = seconds > 0 ? store.count() / seconds : 0.0;
        const std::string size =
            jpeg.decodes ? std::to_string(jpeg.width) + "x" + std::to_string(jpeg.height) : "";
        if (request.json) {
            std::fprintf(
                output.out,
                "{\"frame\":%d,\"file\":%s,\"bytes\":%" PRIu32
                ",\"seconds\":%.3f,\"bytes_per_second\":%.0f,\"whole_jpeg\":%s,"
                "\"soi\":%s,\"eoi\":%s,\"decodes\":%s,\"width\":%d,\"height\":%d%s}\n",
                n, jsonString(file).c_str(), store.count(), seconds, rate,
                jpeg.whole() ? "true" : "false", jpeg.startsWithSoi ? "true" : "false",
                jpeg.endsWithEoi ? "true" : "false", jpeg.decodes ? "true" : "false", jpeg.width,
                jpeg.height,
                !streaming ? "" : (jpeg.whole() ? ",\"streamed\":true" : ",\"streamed\":false"));
        } else {
            std::string verdict = jpeg.whole() ? "whole-jpeg " + size : "not-whole-jpeg";
            if (!jpeg.whole()) {
                verdict += std::string(jpeg.startsWithSoi ? "" : " no-soi") +
                           (jpeg.endsWithEoi ? "" : " no-eoi") +
                           (jpeg.decodes ? "" : " no-decode") +
                           (streaming ? " left-out-of-the-stream" : "");
            }
            std::fprintf(output.out, "%d %s %" PRIu32 " bytes %.3f s %.0f B/s %s\n", n,
                         plainName(file).c_str(), store.count(), seconds, rate, verdict.c_str());
        }
        std::fflush(output.out);
        if (!jpeg.whole()) {
            status = kExitNotWholeJpeg;
        }
    }
    return status;
}

}  // namespace camctl
