// A record of every exchange with the module: the links report each byte sequence they send and
// each reply they receive. Used for --trace and by tests that assert what went over the wire.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace protocol {

enum class Direction { ToModule, FromModule };

class ExchangeTrace {
  public:
    virtual ~ExchangeTrace() = default;
    virtual void record(Direction direction, std::span<const std::uint8_t> bytes) = 0;
    // A link fault that ended an exchange: the trace shows where the real bytes stopped.
    virtual void recordFault(std::string_view /*what*/) {}
};

// "HH:MM:SS.uuuuuu -> 37 01 60": local time of day, direction, bytes in hex.
std::string formatTraceLine(Direction direction, std::span<const std::uint8_t> bytes);
// "HH:MM:SS.uuuuuu !! what": a fault, after the last bytes that really crossed the link.
std::string formatTraceFault(std::string_view what);

// Appends one line per exchange to a file, flushed at once so a crash or a kill keeps it.
class TraceFile final : public ExchangeTrace {
  public:
    // nullptr when the file cannot be opened; `error` then says why.
    static std::unique_ptr<TraceFile> open(const std::string& path, std::string& error);

    void record(Direction direction, std::span<const std::uint8_t> bytes) override;
    void recordFault(std::string_view what) override;

  private:
    explicit TraceFile(std::ofstream out) : out_(std::move(out)) {}
    std::ofstream out_;
};

}  // namespace protocol
