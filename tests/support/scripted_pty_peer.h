// The far end of a pseudo-terminal standing in for a camera module that misbehaves on cue: it
// answers request bytes from a script (whole, partial or not at all), sends a frame after the
// frame-read command paced at its line speed, can hang up part-way through a frame, and holds a
// reply asked for during a frame until the frame has gone out, as the real module does. A thread
// of its own serves the line, so the window under test may block in its waits; it stops when the
// peer is destroyed. Everything the PC sends is recorded in order.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/clock.h"

namespace testing_support {

class ScriptedPtyPeer {
  public:
    using Bytes = std::vector<std::uint8_t>;

    // A byte from the PC and how many frame bytes had gone out when it came.
    struct Heard {
        std::uint8_t byte;
        std::size_t frameBytesSent;
        bool operator==(const Heard&) const = default;
    };

    // Opens the pseudo-terminal; frames go out at `baud` (10 bits a byte). Throws when no
    // pseudo-terminal can be had.
    explicit ScriptedPtyPeer(std::uint32_t baud);
    ~ScriptedPtyPeer();
    ScriptedPtyPeer(const ScriptedPtyPeer&) = delete;
    ScriptedPtyPeer& operator=(const ScriptedPtyPeer&) = delete;

    // The device the PC opens.
    const std::string& slavePath() const { return slavePath_; }

    // The script. Request byte `request` is answered with `reply` (fewer bytes than the module
    // owes make a partial reply; none is silence). Unscripted bytes get no answer.
    void answer(std::uint8_t request, Bytes reply);
    // The frame-read command (128) sends `frame`; a second one while it goes out is ignored.
    void sendOnFrameRead(Bytes frame);
    // The line hangs up once `count` frame bytes have gone out and the PC has taken them from
    // the system: `takenByPc` counts the bytes the PC has taken (called from the peer's thread).
    void hangUpAfterFrameBytes(std::size_t count, std::function<std::size_t()> takenByPc);

    // What happened on the line so far.
    std::vector<Heard> heard() const;
    std::size_t frameBytesSent() const;
    bool hungUp() const;
    // How far the frame going out is behind its schedule at the line's speed: the time since
    // this thread last ran, when the machine has paused it.
    protocol::Clock::Duration lag() const;
    // True when no byte is on its way in either direction and none comes until the PC sends:
    // nothing unread on either side, no frame going out (or waiting to hang up).
    bool lineQuiet() const;

  private:
    void serve();
    void take(std::uint8_t byte);
    void sendFrameDue();
    // The frame bytes that go out before the hang-up, if any; those due by now.
    std::size_t frameLimit() const;
    std::size_t frameBytesDue() const;
    void writeAll(const Bytes& bytes);
    void hangUpOnceTaken();

    std::string slavePath_;
    int masterFd_ = -1;
    // Held open so the line survives the PC closing and reopening its side.
    int slaveFd_ = -1;
    const std::uint32_t baud_;

    mutable std::mutex mutex_;
    std::map<std::uint8_t, Bytes> replies_;
    Bytes frame_;
    std::optional<std::size_t> hangUpAfter_;
    std::vector<Heard> heard_;
    // Set while a frame goes out: when it began.
    std::optional<std::chrono::steady_clock::time_point> frameStart_;
    std::size_t frameSent_ = 0;
    Bytes heldReplies_;
    // Before a hang-up: when the last frame byte due went out, what counts the PC's bytes, and
    // how many it had taken when the frame began.
    std::optional<std::chrono::steady_clock::time_point> limitReachedAt_;
    std::function<std::size_t()> takenByPc_;
    std::size_t takenBeforeFrame_ = 0;
    bool hungUp_ = false;

    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace testing_support
