// What the emulated module saw and did: every exchange (register writes, read requests with their
// replies, commands, frames sent, bytes it could make no sense of) and every line event of the
// serial peer. Kept in memory for tests and, with --log, appended to a file line by line.
// Safe to use from several threads: the serial peer and the socket server run on their own.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/exchange_trace.h"

namespace emulator {

enum class LogKind {
    RegisterWrite,  // bytes: register number, then the value bytes as received
    ReadRequest,    // bytes: request byte, then the reply bytes queued for it
    Command,        // bytes: the command byte
    FrameSent,      // bytes: none; text: frame number and length. Logged when the last bit is out
    Ignored,        // bytes: whatever made no sense (unknown first byte, a cut-short byte)
    Line,           // serial line events: speed changes, garbled traffic
};

struct LogEntry {
    LogKind kind;
    std::vector<std::uint8_t> bytes;
    std::string text;
};

class EmulatorLog {
  public:
    EmulatorLog() = default;
    // Says on standard error how many records the file lost, if any.
    ~EmulatorLog();
    EmulatorLog(const EmulatorLog&) = delete;
    EmulatorLog& operator=(const EmulatorLog&) = delete;

    // Appends every later entry to `path`; false (and `error` set) when it cannot be opened. A
    // record the file does not take (a full disk) is lost to the file only: the first loss is
    // told on standard error with the file and the reason, later records are still tried, and
    // the emulator serves on.
    bool openFile(const std::string& path, std::string& error);
    // Records that did not get into the file, so far.
    std::uint64_t recordsLost() const;

    void record(LogKind kind, std::vector<std::uint8_t> bytes, std::string text);

    std::vector<LogEntry> entries() const;
    std::vector<LogEntry> entriesOf(LogKind kind) const;
    void clear();

    // The in-memory record keeps the most recent entries only, so a long-running emulator in a
    // capture cycle does not grow without bound; the file keeps everything.
    static constexpr std::size_t kMemoryLimit = 20000;

  private:
    mutable std::mutex mutex_;
    std::deque<LogEntry> entries_;
    std::unique_ptr<protocol::LineFile> file_;
    std::string path_;
};

const char* logKindName(LogKind kind);

}  // namespace emulator
