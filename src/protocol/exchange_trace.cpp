#include "protocol/exchange_trace.h"

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

std::string formatTraceLine(Direction direction, std::span<const std::uint8_t> bytes) {
    std::string line = timeStamp();
    line += direction == Direction::ToModule ? " ->" : " <-";
    for (std::uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", b);
        line += hex;
    }
    return line;
}

std::unique_ptr<TraceFile> TraceFile::open(const std::string& path, std::string& error) {
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (!out) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<TraceFile>(new TraceFile(std::move(out)));
}

std::string formatTraceFault(std::string_view what) {
    return timeStamp() + " !! " + std::string(what);
}

void TraceFile::recordFault(std::string_view what) {
    out_ << formatTraceFault(what) << '\n';
    out_.flush();
}

void TraceFile::record(Direction direction, std::span<const std::uint8_t> bytes) {
    out_ << formatTraceLine(direction, bytes) << '\n';
    out_.flush();
}

}  // namespace protocol
