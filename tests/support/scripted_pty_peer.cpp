#include "support/scripted_pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "emulator/pty_line_speed.h"
#include "protocol/registers.h"
#include "protocol/wire.h"

namespace testing_support {

namespace {
using Clock = std::chrono::steady_clock;
// The frame is paced by looking this often; idle, the stop request is seen at least this often.
constexpr int kSendingPollMs = 1;
constexpr int kIdlePollMs = 5;
// A line nobody reads takes no more after this; a hang-up waits no longer for the PC to take.
constexpr auto kDrainLimit = std::chrono::seconds(5);

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}
}  // namespace

ScriptedPtyPeer::ScriptedPtyPeer(std::uint32_t baud) : baud_(baud) {
    char name[256] = {};
    if (openpty(&masterFd_, &slaveFd_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    }
    slavePath_ = name;
    fcntl(masterFd_, F_SETFL, fcntl(masterFd_, F_GETFL) | O_NONBLOCK);
    if (!emulator::makeRawLine(slaveFd_, baud)) {
        closeFd(masterFd_);
        closeFd(slaveFd_);
        throw std::runtime_error("cannot make " + slavePath_ + " a raw line");
    }
    thread_ = std::thread([this] { serve(); });
}

ScriptedPtyPeer::~ScriptedPtyPeer() {
    stop_ = true;
    thread_.join();
    closeFd(masterFd_);
    closeFd(slaveFd_);
}

void ScriptedPtyPeer::answer(std::uint8_t request, Bytes reply) {
    const std::lock_guard lock(mutex_);
    replies_[request] = std::move(reply);
}

void ScriptedPtyPeer::sendOnFrameRead(Bytes frame) {
    const std::lock_guard lock(mutex_);
    frame_ = std::move(frame);
}

void ScriptedPtyPeer::hangUpAfterFrameBytes(std::size_t count,
                                            std::function<std::size_t()> takenByPc) {
    const std::lock_guard lock(mutex_);
    hangUpAfter_ = count;
    takenByPc_ = std::move(takenByPc);
}

std::vector<ScriptedPtyPeer::Heard> ScriptedPtyPeer::heard() const {
    const std::lock_guard lock(mutex_);
    return heard_;
}

std::size_t ScriptedPtyPeer::frameBytesSent() const {
    const std::lock_guard lock(mutex_);
    return frameSent_;
}

bool ScriptedPtyPeer::hungUp() const {
    const std::lock_guard lock(mutex_);
    return hungUp_;
}

void ScriptedPtyPeer::serve() {
    while (!stop_) {
        bool sending = false;
        {
            const std::lock_guard lock(mutex_);
            if (hungUp_) {
                break;
            }
            sending = frameStart_.has_value();
        }
        pollfd p{masterFd_, POLLIN, 0};
        const int ready = poll(&p, 1, sending ? kSendingPollMs : kIdlePollMs);
        const std::lock_guard lock(mutex_);
        if (ready > 0 && (p.revents & POLLIN) != 0) {
            std::uint8_t buffer[256];
            const ssize_t n = ::read(masterFd_, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n; ++i) {
                take(buffer[i]);
            }
        }
        sendFrameDue();
    }
}

void ScriptedPtyPeer::take(std::uint8_t byte) {
    heard_.push_back({byte, frameSent_});
    if (byte == protocol::command::kFrameRead) {
        if (!frameStart_ && !frame_.empty()) {
            frameStart_ = Clock::now();
            frameSent_ = 0;
            // The frame-read command goes out on an emptied input: what the PC takes from now
            // on is the frame.
            takenBeforeFrame_ = takenByPc_ ? takenByPc_() : 0;
        }
        return;
    }
    const auto reply = replies_.find(byte);
    if (reply == replies_.end()) {
        return;
    }
    if (frameStart_) {
        // The module finishes the frame before it answers.
        heldReplies_.insert(heldReplies_.end(), reply->second.begin(), reply->second.end());
    } else {
        writeAll(reply->second);
    }
}

std::size_t ScriptedPtyPeer::frameLimit() const {
    return std::min(frame_.size(), hangUpAfter_.value_or(frame_.size()));
}

std::size_t ScriptedPtyPeer::frameBytesDue() const {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - *frameStart_);
    const auto dueByTime = static_cast<std::size_t>(
        elapsed.count() * baud_ / protocol::kBitsPerCharacter / std::int64_t{1'000'000});
    return std::min(frameLimit(), dueByTime);
}

protocol::Clock::Duration ScriptedPtyPeer::lag() const {
    const std::lock_guard lock(mutex_);
    if (!frameStart_) {
        return {};
    }
    const std::size_t due = frameBytesDue();
    return due > frameSent_
               ? protocol::characterTime(baud_, static_cast<std::int64_t>(due - frameSent_))
               : protocol::Clock::Duration{};
}

bool ScriptedPtyPeer::lineQuiet() const {
    // A turn holds the lock from its read to its last write, so a lock held is a turn under way
    // (and is not waited for: the turn may be waiting on the PC). Under it, a byte from the PC
    // is unread, and one for the PC is unread, in the frame going out, or nowhere.
    const std::unique_lock lock(mutex_, std::try_to_lock);
    return lock.owns_lock() && !frameStart_ && !emulator::hasInput(masterFd_) &&
           !emulator::hasInput(slaveFd_);
}

void ScriptedPtyPeer::sendFrameDue() {
    if (!frameStart_) {
        return;
    }
    const std::size_t limit = frameLimit();
    const std::size_t due = frameBytesDue();
    if (due > frameSent_) {
        const ssize_t n = ::write(masterFd_, frame_.data() + frameSent_, due - frameSent_);
        if (n > 0) {
            frameSent_ += static_cast<std::size_t>(n);
        }
    }
    if (frameSent_ < limit) {
        return;
    }
    if (hangUpAfter_ && frameSent_ == *hangUpAfter_) {
        hangUpOnceTaken();
        return;
    }
    frameStart_.reset();
    writeAll(std::exchange(heldReplies_, {}));
}

void ScriptedPtyPeer::writeAll(const Bytes& bytes) {
    // A line nobody reads takes no more: what does not fit within the limit is lost.
    const auto limit = Clock::now() + kDrainLimit;
    std::size_t written = 0;
    while (written < bytes.size() && !stop_ && Clock::now() < limit) {
        const ssize_t n = ::write(masterFd_, bytes.data() + written, bytes.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (errno == EAGAIN || errno == EINTR) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            return;
        }
    }
}

void ScriptedPtyPeer::hangUpOnceTaken() {
    const auto now = Clock::now();
    if (!limitReachedAt_) {
        limitReachedAt_ = now;
    }
    const bool taken = takenByPc_ && takenByPc_() - takenBeforeFrame_ >= frameSent_;
    if (taken || now - *limitReachedAt_ >= kDrainLimit) {
        // Closing the master hangs the line up for every holder of the slave side.
        closeFd(masterFd_);
        closeFd(slaveFd_);
        frameStart_.reset();
        hungUp_ = true;
    }
}

}  // namespace testing_support
