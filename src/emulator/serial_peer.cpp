#include "emulator/serial_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "emulator/pty_line_speed.h"
#include "emulator/uart_line.h"
#include "protocol/exchange_trace.h"
#include "protocol/wire.h"

namespace emulator {

namespace {

constexpr std::size_t kReadChunk = 256;
// Bytes written in one go when the peer has fallen behind its pacing (a late wake-up): enough to
// catch up within a few turns, small enough to keep the pacing visible at the PC.
constexpr std::size_t kMaxBurst = 64;

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Without anything to send the peer still looks at the module now and then, so a reply queued by
// another thread (a test, an inspection tool) goes out without waiting for the PC's next byte.
constexpr int kIdlePollMs = 20;

}  // namespace

SerialPeer::SerialPeer(CameraModule& module, EmulatorLog& log, Options options)
    : module_(module), log_(log), options_(options) {}

SerialPeer::~SerialPeer() {
    stop();
}

std::optional<std::string> SerialPeer::start(const std::string& linkPath, std::string& error) {
    if (running()) {
        error = "already serving";
        return std::nullopt;
    }
    char slaveName[256] = {};
    if (openpty(&masterFd_, &slaveFd_, slaveName, nullptr, nullptr) != 0) {
        error = systemError("openpty");
        return std::nullopt;
    }
    fcntl(masterFd_, F_SETFL, fcntl(masterFd_, F_GETFL) | O_NONBLOCK);
    fcntl(masterFd_, F_SETFD, FD_CLOEXEC);
    fcntl(slaveFd_, F_SETFD, FD_CLOEXEC);
    if (!makeRawLine(slaveFd_, module_.lineBaud())) {
        error = systemError("setting the pseudo-terminal raw");
        closeAll();
        return std::nullopt;
    }
    if (!thread_.prepare(error)) {
        closeAll();
        return std::nullopt;
    }
    closeWatchFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (closeWatchFd_ < 0 || inotify_add_watch(closeWatchFd_, slaveName, IN_CLOSE) < 0) {
        // Served all the same: only a frame cut short by a PC that closes is left for the next.
        log_.record(LogKind::Line, {},
                    systemError("watching for the PC closing the port (inotify)") +
                        "; what a PC leaves behind stays for the next one");
        closeDescriptor(closeWatchFd_);
    }
    if (!linkPath.empty()) {
        if (!linkLock_.acquire(linkPath, error)) {
            closeAll();
            return std::nullopt;
        }
        struct stat existing {};
        if (lstat(linkPath.c_str(), &existing) == 0) {
            if (!S_ISLNK(existing.st_mode)) {
                error = linkPath + " exists and is not a symbolic link";
                closeAll();
                return std::nullopt;
            }
            unlink(linkPath.c_str());
        }
        if (symlink(slaveName, linkPath.c_str()) != 0) {
            error = systemError(("symlink " + linkPath).c_str());
            closeAll();
            return std::nullopt;
        }
        linkPath_ = linkPath;
    }
    lastPcBaud_ = pcBaud();
    log_.record(LogKind::Line, {},
                std::string("serving ") + slaveName +
                    (linkPath_.empty() ? "" : " at " + linkPath_) + ", module at " +
                    std::to_string(module_.lineBaud()) + " baud");
    thread_.start([this] { serve(); });
    return std::string(slaveName);
}

void SerialPeer::stop() {
    closeAll();
}

void SerialPeer::closeAll() {
    thread_.stop();
    closeDescriptor(masterFd_);
    closeDescriptor(slaveFd_);
    closeDescriptor(closeWatchFd_);
    removeMadePath(linkPath_);
    linkLock_.release();
}

void SerialPeer::serve() {
    while (!thread_.stopping()) {
        int timeoutMs = kIdlePollMs;
        if (sending_ || module_.hasOutgoing()) {
            if (!sending_) {
                // The first byte is on the PC's side once its ten bits have crossed the line.
                // Its time is set first: whoever sees the peer sending sees when it is due.
                nextByteDue_ = Clock::now() + characterTime();
                sending_ = true;
            }
            const auto wait =
                std::chrono::ceil<std::chrono::milliseconds>(nextByteDue_.load() - Clock::now());
            timeoutMs = static_cast<int>(std::max<std::int64_t>(0, wait.count()));
        }
        pollfd fds[] = {
            {masterFd_, POLLIN, 0}, {thread_.wakeFd(), POLLIN, 0}, {closeWatchFd_, POLLIN, 0}};
        if (poll(fds, 3, timeoutMs) < 0 && errno != EINTR) {
            log_.record(LogKind::Line, {}, systemError("poll"));
            return;
        }
        // Before the bytes that came: a program that opened the port since the close may have
        // sent some, and they are its own.
        if ((fds[2].revents & POLLIN) && pcClosedThePort()) {
            dropWhatThePcLeft();
        }
        if (fds[0].revents & POLLIN) {
            taking_ = true;
            receiveFromPc();
            taking_ = false;
        }
        if (sending_) {
            sendDueBytes();
        }
    }
}

std::uint32_t SerialPeer::pcBaud() {
    const std::uint32_t baud = ptySlaveBaud(masterFd_).value_or(0);
    if (baud != lastPcBaud_) {
        log_.record(LogKind::Line, {}, "PC line speed " + std::to_string(baud));
        lastPcBaud_ = baud;
    }
    return baud;
}

bool SerialPeer::pcClosedThePort() {
    // One read a turn: events that did not fit keep the watch readable for the next.
    alignas(inotify_event) char events[4096];
    const ssize_t n = read(closeWatchFd_, events, sizeof events);
    bool closed = false;
    for (ssize_t at = 0; at < n;) {
        // Only IN_CLOSE is watched for; IN_IGNORED comes alone when the watch itself goes.
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        closed = closed || (event->mask & IN_CLOSE) != 0;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    return closed;
}

void SerialPeer::dropWhatThePcLeft() {
    // What was written towards the PC and not read by it waits in the slave's input queue, held
    // there by the slave descriptor kept open: the next program would read it first.
    tcflush(slaveFd_, TCIFLUSH);
    module_.linkReleased("the PC closed the serial port");
    sending_ = false;
}

bool SerialPeer::lineQuiet() const {
    // Looked at in the order a byte travels, each stage marked before the one before it lets go,
    // so a byte in flight is seen in one place or the next.
    return !hasInput(masterFd_) && !taking_ && !module_.hasOutgoing() && !sending_ &&
           !hasInput(slaveFd_);
}

SerialPeer::Clock::duration SerialPeer::sendingLag() const {
    if (!sending_) {
        return {};
    }
    return std::max(Clock::duration{}, Clock::now() - nextByteDue_.load());
}

SerialPeer::Clock::duration SerialPeer::characterTime() const {
    return protocol::characterTime(module_.lineBaud()) / options_.characterTimeDivisor;
}

void SerialPeer::receiveFromPc() {
    std::uint8_t buffer[kReadChunk];
    const ssize_t n = read(masterFd_, buffer, sizeof buffer);
    if (n <= 0) {
        return;  // EAGAIN, or nobody has the slave open: nothing to take
    }
    std::vector<std::uint8_t> bytes(buffer, buffer + n);
    const std::uint32_t pc = pcBaud();
    const std::uint32_t own = module_.lineBaud();
    if (pc != own) {
        std::vector<std::uint8_t> heard = receiveAtOtherSpeed(bytes, pc, own);
        log_.record(LogKind::Line, bytes,
                    "sent at " + std::to_string(pc) + " baud, heard at " + std::to_string(own) +
                        " as [" + protocol::hexBytes(heard) + "]");
        bytes = std::move(heard);
    }
    for (std::uint8_t b : bytes) {
        module_.receive(b);
    }
    bytesTaken_ += static_cast<std::uint64_t>(n);
}

void SerialPeer::sendDueBytes() {
    const auto now = Clock::now();
    std::vector<std::uint8_t> due;
    const std::size_t burst = kMaxBurst * static_cast<std::size_t>(options_.characterTimeDivisor);
    while (now >= nextByteDue_.load() && due.size() < burst && module_.hasOutgoing()) {
        due.push_back(module_.takeOutgoing().value);
        module_.outgoingByteFinished();
        nextByteDue_ = nextByteDue_.load() + characterTime();
    }
    writeToPc(std::move(due));
    // Only once the bytes are on the PC's side: until then they are still going out.
    if (!module_.hasOutgoing() && now >= nextByteDue_.load()) {
        sending_ = false;
    }
}

void SerialPeer::writeToPc(std::vector<std::uint8_t> due) {
    if (due.empty()) {
        return;
    }
    const std::uint32_t pc = pcBaud();
    const std::uint32_t own = module_.lineBaud();
    if (pc != own) {
        due = receiveAtOtherSpeed(due, own, pc);
    }
    if (due.empty()) {
        return;
    }
    const ssize_t written = write(masterFd_, due.data(), due.size());
    if (written < static_cast<ssize_t>(due.size())) {
        // A line without handshaking: what the PC does not take in time is lost.
        log_.record(
            LogKind::Line, {},
            std::to_string(due.size() - static_cast<std::size_t>(std::max<ssize_t>(0, written))) +
                " bytes lost: the PC is not reading");
    }
}

}  // namespace emulator
