// A record of every exchange with the module: the links report each byte sequence they send and
// each reply they receive. Used for --trace and by tests that assert what went over the wire.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
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

// "37 01 60": two upper-case hex digits a byte, one blank between them; "" for no bytes. Traces and
// the emulator's log show bytes this way.
std::string hexBytes(std::span<const std::uint8_t> bytes);

// "HH:MM:SS.uuuuuu -> 37 01 60": local time of day, direction, bytes in hex.
std::string formatTraceLine(Direction direction, std::span<const std::uint8_t> bytes);
// "HH:MM:SS.uuuuuu !! what": a fault, after the last bytes that really crossed the link.
std::string formatTraceFault(std::string_view what);

// A text file written a line at a time, each line handed to the system at once so a crash or a
// kill keeps it. A line the file does not take whole (a full disk, a file size limit, an I/O
// error) is counted as lost, and the first loss is reported through onFirstLoss. Later lines are
// still tried, one by one, so once the disk has room again writing goes on; the lines in between
// are missing, and a line cut short by the failure is ended by the next one that goes in.
class LineFile {
  public:
    enum class Mode { Replace, Append };
    // nullptr when the file cannot be opened (or, for Replace, emptied); `error` then says why
    // (strerror).
    static std::unique_ptr<LineFile> open(const std::string& path, Mode mode, std::string& error);
    ~LineFile();
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;

    // Writes `line` and a line end.
    void write(std::string line);

    // `callback` runs once, on the thread that wrote the line, when the first line is lost;
    // `reason` is the system's (strerror, "No space left on device"). Set it before writing: a
    // loss before it was set is not told again.
    void onFirstLoss(std::function<void(const std::string& reason)> callback);
    // Lines that did not get into the file whole, so far.
    // From any thread: the link's writes the lines, the window tells of their loss.
    std::uint64_t linesLost() const { return linesLost_.load(std::memory_order_relaxed); }

  private:
    explicit LineFile(int fd) : fd_(fd) {}

    int fd_;
    std::atomic<std::uint64_t> linesLost_ = 0;
    bool lineCutShort_ = false;  // the last failure left part of a line in the file
    std::function<void(const std::string&)> onFirstLoss_;
};

// Writes one line per exchange to a file that it empties first (--trace). Lines are written and
// lost as LineFile says.
class TraceFile final : public ExchangeTrace {
  public:
    // nullptr when the file cannot be created or emptied; `error` then says why (strerror).
    static std::unique_ptr<TraceFile> open(const std::string& path, std::string& error);

    void record(Direction direction, std::span<const std::uint8_t> bytes) override;
    void recordFault(std::string_view what) override;

    // Called once, with the system's reason, when the first line is lost (see LineFile).
    void onFirstLoss(std::function<void(const std::string& reason)> callback) {
        file_->onFirstLoss(std::move(callback));
    }
    // Lines that did not get into the file whole, so far.
    std::uint64_t linesLost() const { return file_->linesLost(); }

  private:
    explicit TraceFile(std::unique_ptr<LineFile> file) : file_(std::move(file)) {}
    std::unique_ptr<LineFile> file_;
};

}  // namespace protocol
