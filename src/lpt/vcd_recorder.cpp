#include "lpt/vcd_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <span>

#include "frames/frame_file.h"
#include "lpt/pins.h"

namespace lpt {

namespace {

// What is kept before it is handed to the system, besides the end of each operation.
constexpr std::size_t kFlushSize = 64 * 1024;
// Accesses mode: each access takes two time steps, so every state lasts a while in a viewer.
constexpr std::uint64_t kStepsPerAccess = 2;

constexpr const char* kWireNames[] = {
    "sck", "cs", "mosi", "miso", "ready", "register_write", "query", "command", "reply", "frame"};

// The short identifiers of the wires in the value section: printable characters from '!'.
constexpr char identifier(int wire) {
    return static_cast<char>('!' + wire);
}

std::uint16_t portOf(std::uint16_t address) {
    return address == kLpt1Base || address == kLpt1Base + kStatusOffset ? kLpt1Base : kLpt2Base;
}

// A comment's text may hold no "$end" and stays on one line.
std::string commentText(std::string_view text) {
    std::string clean(text);
    std::replace(clean.begin(), clean.end(), '$', '?');
    std::replace(clean.begin(), clean.end(), '\n', ' ');
    return clean;
}

}  // namespace

std::unique_ptr<VcdRecorder> VcdRecorder::open(const std::string& path, VcdTime time,
                                               const protocol::Clock& clock, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<VcdRecorder>(new VcdRecorder(fd, time, clock));
}

VcdRecorder::VcdRecorder(int fd, VcdTime time, const protocol::Clock& clock)
    : fd_(fd), timeBase_(time), clock_(clock), start_(clock.now()) {
    buffer_.reserve(2 * kFlushSize);
}

VcdRecorder::~VcdRecorder() {
    close();
}

void VcdRecorder::onWriteError(std::function<void(const std::string& reason)> callback) {
    onWriteError_ = std::move(callback);
}

void VcdRecorder::wrote(std::uint16_t address, std::uint8_t value) {
    if (!beginAccess(address)) {
        return;
    }
    set(Sck, (value & kClockBit) != 0);
    set(Cs, (value & kChipSelectBit) != 0);
    set(Mosi, (value & kMosiBit) != 0);
    if ((value & kChipSelectBit) != 0) {
        for (int kind = FirstByteKind; kind < kWireCount; ++kind) {
            set(static_cast<Wire>(kind), false);
        }
    } else if (pendingKind_ >= 0) {
        set(static_cast<Wire>(FirstByteKind + pendingKind_), true);
        pendingKind_ = -1;
    }
    endAccess();
}

void VcdRecorder::read(std::uint16_t address, std::uint8_t value) {
    if (!beginAccess(address)) {
        return;
    }
    set(Miso, (value & kMisoBit) != 0);
    set(Ready, (value & kReadyBit) != 0);
    endAccess();
}

void VcdRecorder::byteBegins(ByteKind kind) {
    pendingKind_ = static_cast<int>(kind);
}

void VcdRecorder::faulted(std::string_view what) {
    close("link fault: " + std::string(what));
}

bool VcdRecorder::beginAccess(std::uint16_t address) {
    if (closed()) {
        return false;
    }
    ++accesses_;
    accessStamped_ = false;
    const std::uint16_t port = portOf(address);
    if (portBase_ == 0) {
        writeHeader(port);
        for (int kind = FirstByteKind; kind < kWireCount; ++kind) {
            set(static_cast<Wire>(kind), false);
        }
    } else if (port != portBase_) {
        // A file has the wires of one port: the recording ends where the link moves on.
        close(port == kLpt1Base ? "the link moved to lpt1: the recording ends"
                                : "the link moved to lpt2: the recording ends");
        return false;
    }
    return true;
}

void VcdRecorder::endAccess() {
    buffer_.append(accessLines_.data(), accessLength_);
    accessLength_ = 0;
    if (buffer_.size() >= kFlushSize) {
        flush();
    }
}

void VcdRecorder::writeHeader(std::uint16_t portBase) {
    portBase_ = portBase;
    buffer_ += "$version camera SPI link $end\n$timescale 1ns $end\n";
    if (timeBase_ == VcdTime::Accesses) {
        buffer_ += "$comment time: port accesses, two steps each $end\n";
    }
    buffer_ += portBase == kLpt1Base ? "$scope module lpt1 $end\n" : "$scope module lpt2 $end\n";
    for (int wire = 0; wire < kWireCount; ++wire) {
        buffer_ += "$var wire 1 ";
        buffer_ += identifier(wire);
        buffer_ += ' ';
        buffer_ += kWireNames[wire];
        buffer_ += " $end\n";
    }
    buffer_ += "$upscope $end\n$enddefinitions $end\n";
}

void VcdRecorder::set(Wire wire, bool bit) {
    const char value = bit ? '1' : '0';
    if (values_[wire] == value) {
        return;
    }
    values_[wire] = value;
    if (!accessStamped_) {
        accessStamped_ = true;
        stamp(timeNow());
    }
    accessLines_[accessLength_++] = value;
    accessLines_[accessLength_++] = identifier(wire);
    accessLines_[accessLength_++] = '\n';
}

void VcdRecorder::stamp(std::uint64_t time) {
    // Times only grow; two accesses within one tick of the clock share it.
    if (timeWritten_ && time <= lastTime_) {
        return;
    }
    timeWritten_ = true;
    lastTime_ = time;
    char* const line = accessLines_.data() + accessLength_;
    line[0] = '#';
    char* const end = std::to_chars(line + 1, line + 22, time).ptr;
    *end = '\n';
    accessLength_ = static_cast<std::size_t>(end + 1 - accessLines_.data());
}

std::uint64_t VcdRecorder::timeNow() const {
    if (timeBase_ == VcdTime::Accesses) {
        return kStepsPerAccess * (accesses_ - 1);
    }
    const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(clock_.now() - start_);
    return static_cast<std::uint64_t>(std::max<std::int64_t>(0, since.count()));
}

void VcdRecorder::close(std::string_view why) {
    if (closed()) {
        return;
    }
    if (portBase_ == 0) {
        writeHeader(kLpt1Base);
    }
    // The end's own time, after the last access, so that a reader keeps the last values a while.
    ++accesses_;
    stamp(std::max(timeNow(), lastTime_ + 1));
    endAccess();
    if (!why.empty()) {
        buffer_ += "$comment " + commentText(why) + " $end\n";
    }
    flush();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void VcdRecorder::flush() {
    if (fd_ < 0 || buffer_.empty()) {
        return;
    }
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(buffer_.data()), buffer_.size());
    if (const auto failure = frames::writeAll(fd_, bytes)) {
        // Back to the last whole line, so the file still reads to where it stopped.
        if (::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
            // The part line stays; a reader stops at it as it would at the end.
        }
        ::close(fd_);
        fd_ = -1;
        buffer_.clear();
        writeFailure_ = *failure;
        if (onWriteError_) {
            onWriteError_(*failure);
        }
        return;
    }
    written_ += buffer_.size();
    buffer_.clear();
}

}  // namespace lpt
