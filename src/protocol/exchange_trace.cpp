#include "protocol/exchange_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace protocol {

namespace {

// Local time of day with microseconds.
std::string timeStamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto micros = duration_cast<microseconds>(now.time_since_epoch()).count() % 1'000'000;
    std::tm local{};
    localtime_r(&seconds, &local);

    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%06lld", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<long long>(micros));
    return stamp;
}

}  // namespace

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::uint8_t b : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

std::string formatTraceLine(Direction direction, std::span<const std::uint8_t> bytes) {
    std::string line = timeStamp();
    line += direction == Direction::ToModule ? " ->" : " <-";
    if (!bytes.empty()) {
        line += ' ' + hexBytes(bytes);
    }
    return line;
}

std::unique_ptr<LineFile> LineFile::open(const std::string& path, Mode mode, std::string& error) {
    const int how = mode == Mode::Replace ? O_TRUNC : 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | how, 0666);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<LineFile>(new LineFile(fd));
}

LineFile::~LineFile() {
    ::close(fd_);
}

void LineFile::onFirstLoss(std::function<void(const std::string& reason)> callback) {
    onFirstLoss_ = std::move(callback);
}

void LineFile::write(std::string line) {
    if (lineCutShort_) {
        line.insert(line.begin(), '\n');  // the cut line's end, so this one stands on its own
    }
    line += '\n';
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        const int reason = n < 0 ? errno : ENOSPC;
        lineCutShort_ = lineCutShort_ || done > 0;
        if (++linesLost_ == 1 && onFirstLoss_) {
            onFirstLoss_(std::strerror(reason));
        }
        return;
    }
    lineCutShort_ = false;
}

std::unique_ptr<TraceFile> TraceFile::open(const std::string& path, std::string& error) {
    auto file = LineFile::open(path, LineFile::Mode::Replace, error);
    return file ? std::unique_ptr<TraceFile>(new TraceFile(std::move(file))) : nullptr;
}

std::string formatTraceFault(std::string_view what) {
    return timeStamp() + " !! " + std::string(what);
}

void TraceFile::recordFault(std::string_view what) {
    file_->write(formatTraceFault(what));
}

void TraceFile::record(Direction direction, std::span<const std::uint8_t> bytes) {
    file_->write(formatTraceLine(direction, bytes));
}

}  // namespace protocol
