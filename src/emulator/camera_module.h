// The camera module as a state machine: its registers, the parser that turns incoming bytes into
// register writes, read requests and commands, the queue of bytes it has to send, and the busy
// time of a capture. It knows nothing about pins or lines: the SPI slave and the serial peer hand
// it whole bytes and take whole bytes from it.
//
// Thread-safe: every public call takes the module's lock, so one module can sit behind several
// front ends (the socket server and the serial peer of camera-emulator) and be inspected by tests
// while a front end runs on its own thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "emulator/emulator_log.h"
#include "emulator/frame_source.h"
#include "protocol/registers.h"

namespace emulator {

class CameraModule {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using NowFunction = std::function<TimePoint()>;

    struct Options {
        // How long the module stays busy after a capture command while it "compresses".
        std::chrono::microseconds captureTime = std::chrono::milliseconds(50);
        // Injected so tests can move time by hand; the steady clock otherwise.
        NowFunction now = [] { return std::chrono::steady_clock::now(); };
        // When set, every frame is these bytes (--frame=FILE), whatever the registers say.
        std::optional<std::vector<std::uint8_t>> fixedFrame;
    };

    // A byte the module puts on the line: `queued` is false when nothing was waiting and the
    // module sends its filler byte.
    struct OutgoingByte {
        std::uint8_t value;
        bool queued;
    };

    static constexpr std::uint8_t kFillerByte = 0x00;
    // Reply bytes (register read-backs) the module holds at most; a request that would go past it
    // is dropped, so a PC that pipelines requests without taking the replies cannot grow the queue.
    static constexpr std::size_t kReplyQueueLimit = 1024;

    explicit CameraModule(EmulatorLog& log);
    CameraModule(EmulatorLog& log, Options options);

    // One complete byte from the PC.
    void receive(std::uint8_t byte);
    // A byte cut short (chip select rose after `bits` bits): it is dropped, and a register write
    // it belonged to is abandoned, so the next byte is read as a first byte again.
    void discardPartialByte(int bits);

    // The PC has let go of its link (the socket client went, the serial port was closed): what
    // was left to send it, the rest of a frame and any replies, is dropped, and a register write
    // it had begun is abandoned, so the next PC starts clean. The frame captured stays: the next
    // frame read sends it from its first byte. `how` goes to the log.
    void linkReleased(const std::string& how);

    // The next byte to send, taken off the queue (or the filler byte).
    OutgoingByte takeOutgoing();
    // The last bit of the byte taken last is on the line: a frame byte then counts as sent.
    void outgoingByteFinished();
    bool hasOutgoing() const;

    // Ready: no capture in progress and no frame byte left to send.
    bool ready() const;

    // Register values as the module holds them (55 and 56 as 16-bit values).
    std::uint16_t registerValue(protocol::Register r) const;
    // The SPI mode the slave uses for the next chip-select frame.
    int spiMode() const;
    // The line speed of the module's serial port, in baud.
    std::uint32_t lineBaud() const;
    bool testMode() const;
    std::uint32_t framesCaptured() const;
    // The frame the next frame-read command sends (empty before the first capture).
    std::vector<std::uint8_t> currentFrame() const;

  private:
    struct PendingWrite {
        protocol::Register reg;
        std::vector<std::uint8_t> bytes;  // register number first
    };
    struct QueuedByte {
        std::uint8_t value;
        bool partOfFrame;
    };

    void handleFirstByte(std::uint8_t byte);
    void completeWrite(const PendingWrite& write);
    void answerRequest(std::uint8_t request, protocol::Register reg);
    void runCommand(std::uint8_t command);
    void capture();
    void queueFrame();
    // Takes what is left of the frame going out off the queue; returns how many bytes that was.
    std::size_t dropFrameInProgress();
    void resetRegisters();
    void setRegister(protocol::Register r, std::uint16_t value);

    EmulatorLog& log_;
    Options options_;
    mutable std::mutex mutex_;

    std::uint16_t registers_[std::size(protocol::kAllRegisters)]{};
    int spiMode_ = 0;
    std::uint32_t lineBaud_ = 0;
    bool testMode_ = false;

    std::optional<PendingWrite> pendingWrite_;
    std::deque<QueuedByte> outgoing_;
    bool frameByteInFlight_ = false;
    std::size_t frameBytesLeft_ = 0;  // queued or in flight
    std::size_t replyBytesQueued_ = 0;

    std::uint32_t framesCaptured_ = 0;
    std::vector<std::uint8_t> frame_;
    TimePoint busyUntil_{};
};

}  // namespace emulator
