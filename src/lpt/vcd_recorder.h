// A Value Change Dump (IEEE 1364 VCD) of the parallel port as the SPI link drives and samples it
// (--vcd), for waveform viewers and protocol decoders: one scope named after the port ("lpt1" or
// "lpt2"); the wires sck, cs and mosi from each data-register write, miso and ready from each
// status read (the value read, when it was read); and one wire per kind of byte (register_write,
// query, command, reply, frame), high while a frame of chip select carries a byte of that kind.
//
// The value section holds nothing but times and one-bit changes until the file ends: Debian's
// libsigrok (sigrok-cli, PulseView) stops reading at the first comment or vector there. A fault
// that ends the recording is the one comment, at its time, after the last change.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "lpt/port_watch.h"
#include "protocol/clock.h"

namespace lpt {

// How time runs in the file: nanoseconds of the program's monotonic clock since the recorder
// was made, or the port accesses numbered, two time steps each (--vcd-time=accesses), so that
// one operation always gives the same file.
enum class VcdTime { Real, Accesses };

class VcdRecorder final : public PortWatch {
  public:
    // nullptr when the file cannot be created or emptied; `error` then says why (strerror).
    static std::unique_ptr<VcdRecorder> open(const std::string& path, VcdTime time,
                                             const protocol::Clock& clock, std::string& error);
    ~VcdRecorder() override;
    VcdRecorder(const VcdRecorder&) = delete;
    VcdRecorder& operator=(const VcdRecorder&) = delete;

    // `callback` runs once, with the system's reason, when the file refuses a write. The file is
    // then cut back to its last whole line and the recording ends there.
    void onWriteError(std::function<void(const std::string& reason)> callback);

    // Ends the file: what was seen, the time of the end, and `why` as a comment when it is not
    // empty. Nothing is recorded after it; a second call does nothing.
    void close(std::string_view why = {});
    bool closed() const { return fd_ < 0; }
    // Why the file refused a write, once it has; empty while it has not.
    const std::string& writeFailure() const { return writeFailure_; }

    void wrote(std::uint16_t address, std::uint8_t value) override;
    void read(std::uint16_t address, std::uint8_t value) override;
    void byteBegins(ByteKind kind) override;
    // Hands what was seen to the system, so a program ended by a signal keeps every operation.
    void operationEnded() override { flush(); }
    // The link's fault ends the recording, as a comment at its time.
    void faulted(std::string_view what) override;

  private:
    enum Wire { Sck, Cs, Mosi, Miso, Ready, FirstByteKind, kWireCount = FirstByteKind + 5 };

    VcdRecorder(int fd, VcdTime time, const protocol::Clock& clock);
    // False when nothing is to be recorded of this access (the file has ended).
    bool beginAccess(std::uint16_t address);
    // Hands the access's lines to the buffer, and the buffer to the system when it is full.
    void endAccess();
    void writeHeader(std::uint16_t portBase);
    // Writes `bit` on `wire` when it is a change, after the time of the access.
    void set(Wire wire, bool bit);
    void stamp(std::uint64_t time);
    std::uint64_t timeNow() const;
    void flush();

    int fd_;
    VcdTime timeBase_;
    const protocol::Clock& clock_;
    protocol::Clock::TimePoint start_;
    std::uint16_t portBase_ = 0;  // the port the file holds; 0 until the first access
    std::uint64_t accesses_ = 0;
    std::uint64_t lastTime_ = 0;
    bool timeWritten_ = false;
    bool accessStamped_ = false;
    std::array<char, kWireCount> values_{};  // '0', '1', or 0 before the first
    int pendingKind_ = -1;                   // the byte kind the next frame of chip select carries
    // The lines of the access in progress: its time and at most one change of every wire.
    std::array<char, 24 + 3 * kWireCount> accessLines_{};
    std::size_t accessLength_ = 0;
    std::string buffer_;         // whole lines not yet handed to the system
    std::uint64_t written_ = 0;  // bytes in the file, all of them whole lines
    std::function<void(const std::string&)> onWriteError_;
    std::string writeFailure_;
};

}  // namespace lpt
