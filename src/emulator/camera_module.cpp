#include "emulator/camera_module.h"

#include <cstddef>
#include <string>

#include "protocol/encodings.h"
#include "protocol/wire.h"

namespace emulator {

namespace {

using protocol::Register;

// What the registers hold after power-up and after the reset command (protocol/encodings.h).
struct PowerUpValue {
    Register reg;
    std::uint16_t value;
};
constexpr PowerUpValue kPowerUpValues[] = {
    {Register::Compression, *protocol::encodeCompression(protocol::kPowerUpCompression.level,
                                                         protocol::kPowerUpCompression.mode)},
    {Register::Speed, *protocol::speedCodeForBaud(protocol::kResetBaud)},
    {Register::SpiMode, protocol::kPowerUpSpiMode},
    {Register::Brightness, protocol::encodeBrightness(protocol::kPowerUpBrightnessStep)},
    {Register::Red, protocol::encodeColourLevel(protocol::kPowerUpColourLevelStep)},
    {Register::Green, protocol::encodeColourLevel(protocol::kPowerUpColourLevelStep)},
    {Register::Blue, protocol::encodeColourLevel(protocol::kPowerUpColourLevelStep)},
    {Register::FrameWidth, protocol::kPowerUpFrameSize.width},
    {Register::FrameHeight, protocol::kPowerUpFrameSize.height},
};

constexpr std::size_t registerIndex(Register r) {
    for (std::size_t i = 0; i < std::size(protocol::kAllRegisters); ++i) {
        if (protocol::kAllRegisters[i] == r) {
            return i;
        }
    }
    return 0;
}

std::string describeRegister(Register r) {
    return "register " + std::to_string(protocol::registerNumber(r));
}

std::string frameTailDropped(std::size_t bytes, std::uint32_t frame) {
    return "; the last " + std::to_string(bytes) + " bytes of frame " + std::to_string(frame) +
           " dropped";
}

}  // namespace

CameraModule::CameraModule(EmulatorLog& log) : CameraModule(log, Options{}) {}

CameraModule::CameraModule(EmulatorLog& log, Options options)
    : log_(log), options_(std::move(options)) {
    resetRegisters();
}

void CameraModule::receive(std::uint8_t byte) {
    std::lock_guard lock(mutex_);
    if (!pendingWrite_) {
        handleFirstByte(byte);
        return;
    }
    pendingWrite_->bytes.push_back(byte);
    const auto wanted = static_cast<std::size_t>(1 + protocol::valueLength(pendingWrite_->reg));
    if (pendingWrite_->bytes.size() == wanted) {
        const PendingWrite write = std::move(*pendingWrite_);
        pendingWrite_.reset();
        completeWrite(write);
    }
}

void CameraModule::discardPartialByte(int bits) {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> abandoned;
    std::string text = "byte cut short after " + std::to_string(bits) + " bits";
    if (pendingWrite_) {
        abandoned = pendingWrite_->bytes;
        text += "; write to " + describeRegister(pendingWrite_->reg) + " abandoned";
        pendingWrite_.reset();
    }
    log_.record(LogKind::Ignored, std::move(abandoned), std::move(text));
}

void CameraModule::linkReleased(const std::string& how) {
    std::lock_guard lock(mutex_);
    std::string text = how;
    if (const std::size_t dropped = dropFrameInProgress()) {
        text += frameTailDropped(dropped, framesCaptured_);
    }
    if (replyBytesQueued_ > 0) {
        text += "; " + std::to_string(replyBytesQueued_) + " reply bytes dropped";
    }
    if (pendingWrite_) {
        text += "; write to " + describeRegister(pendingWrite_->reg) + " abandoned";
    }
    outgoing_.clear();
    replyBytesQueued_ = 0;
    pendingWrite_.reset();
    log_.record(LogKind::Line, {}, std::move(text));
}

void CameraModule::handleFirstByte(std::uint8_t byte) {
    if (const auto reg = protocol::registerForNumber(byte)) {
        pendingWrite_ = PendingWrite{*reg, {byte}};
    } else if (const auto requested = protocol::registerForRequest(byte)) {
        answerRequest(byte, *requested);
    } else if (protocol::isCommand(byte)) {
        runCommand(byte);
    } else {
        log_.record(LogKind::Ignored, {byte}, "not a register, request or command");
    }
}

void CameraModule::completeWrite(const PendingWrite& write) {
    const std::uint16_t value =
        protocol::valueOfBytes(write.reg, std::span(write.bytes).subspan(1));
    const std::uint16_t old = registers_[registerIndex(write.reg)];
    setRegister(write.reg, value);
    std::string text =
        describeRegister(write.reg) + ": " + std::to_string(old) + " -> " + std::to_string(value);

    // Two registers also steer the module's own ports. A value without a meaning is held in the
    // register (a read-back returns it) but leaves the port as it was.
    if (write.reg == Register::SpiMode) {
        if (const auto mode = protocol::decodeSpiMode(static_cast<std::uint8_t>(value))) {
            spiMode_ = *mode;
            text += "; SPI mode " + std::to_string(spiMode_) + " from the next frame";
        } else {
            text += "; no such SPI mode, mode " + std::to_string(spiMode_) + " kept";
        }
    } else if (write.reg == Register::Speed) {
        if (const auto baud = protocol::baudForSpeedCode(static_cast<std::uint8_t>(value))) {
            lineBaud_ = *baud;
            text += "; line speed " + std::to_string(lineBaud_);
        } else {
            text += "; no such speed code, line speed " + std::to_string(lineBaud_) + " kept";
        }
    }
    log_.record(LogKind::RegisterWrite, write.bytes, std::move(text));
}

void CameraModule::answerRequest(std::uint8_t request, Register reg) {
    const auto length = static_cast<std::size_t>(protocol::valueLength(reg));
    if (replyBytesQueued_ + length > kReplyQueueLimit) {
        log_.record(LogKind::Ignored, {request},
                    describeRegister(reg) + " not answered: " + std::to_string(replyBytesQueued_) +
                        " reply bytes already waiting");
        return;
    }
    replyBytesQueued_ += length;
    const std::vector<std::uint8_t> reply =
        protocol::valueBytes(reg, registers_[registerIndex(reg)]);
    std::vector<std::uint8_t> logged{request};
    for (std::uint8_t b : reply) {
        outgoing_.push_back({b, false});
        logged.push_back(b);
    }
    log_.record(LogKind::ReadRequest, std::move(logged), describeRegister(reg));
}

void CameraModule::runCommand(std::uint8_t command) {
    switch (command) {
        case protocol::command::kCapture:
            capture();
            break;
        case protocol::command::kFrameRead:
            if (frameBytesLeft_ > 0) {
                // One frame at a time: a repeated read neither restarts nor stacks frames, and
                // captures nothing. The PC counts the bytes of the frame it is taking; a second
                // read that came while it did (a retry sent too soon, a double click) must not
                // splice a second start into it. A PC that gave the frame up asks for a new one
                // with a capture or a reset, or lets go of the link: each of those drops the
                // rest of this one.
                log_.record(LogKind::Ignored, {command},
                            "frame read while " + std::to_string(frameBytesLeft_) +
                                " bytes of the last frame are still going out");
                break;
            }
            if (frame_.empty()) {
                // Nothing captured since power-up or reset: capture now rather than leave the PC
                // clocking filler bytes until its download limit.
                log_.record(LogKind::Command, {command}, "frame read before any capture");
                capture();
            }
            queueFrame();
            break;
        case protocol::command::kTestModeOn:
        case protocol::command::kTestModeOff:
            testMode_ = command == protocol::command::kTestModeOn;
            log_.record(LogKind::Command, {command}, testMode_ ? "test mode on" : "test mode off");
            break;
        case protocol::command::kReset:
            resetRegisters();
            log_.record(LogKind::Command, {command},
                        "reset: SPI mode 0, 2400 baud, registers at power-up values");
            break;
        default:
            break;
    }
}

void CameraModule::capture() {
    // The frame going out is stale once a new one is taken: what is left of it goes, so the
    // next frame read starts the new one at its first byte.
    const std::size_t dropped = dropFrameInProgress();
    ++framesCaptured_;
    if (options_.fixedFrame) {
        frame_ = *options_.fixedFrame;
    } else {
        FrameRequest request;
        request.widthRegister = registers_[registerIndex(Register::FrameWidth)];
        request.heightRegister = registers_[registerIndex(Register::FrameHeight)];
        request.compressionRegister =
            static_cast<std::uint8_t>(registers_[registerIndex(Register::Compression)]);
        request.brightnessRegister =
            static_cast<std::uint8_t>(registers_[registerIndex(Register::Brightness)]);
        request.redRegister = static_cast<std::uint8_t>(registers_[registerIndex(Register::Red)]);
        request.greenRegister =
            static_cast<std::uint8_t>(registers_[registerIndex(Register::Green)]);
        request.blueRegister = static_cast<std::uint8_t>(registers_[registerIndex(Register::Blue)]);
        request.testMode = testMode_;
        request.frameNumber = framesCaptured_;
        EncodedFrame encoded = makeFrame(request);
        frame_ = std::move(encoded.jpeg);
    }
    busyUntil_ = options_.now() + options_.captureTime;
    std::string text = "capture: frame " + std::to_string(framesCaptured_) + ", " +
                       std::to_string(frame_.size()) + " bytes";
    if (dropped > 0) {
        text += frameTailDropped(dropped, framesCaptured_ - 1);
    }
    log_.record(LogKind::Command, {protocol::command::kCapture}, std::move(text));
}

std::size_t CameraModule::dropFrameInProgress() {
    const std::size_t dropped = frameBytesLeft_;
    std::erase_if(outgoing_, [](const QueuedByte& b) { return b.partOfFrame; });
    // A frame byte taken but not yet finished would otherwise count against the next frame.
    frameByteInFlight_ = false;
    frameBytesLeft_ = 0;
    return dropped;
}

void CameraModule::queueFrame() {
    for (std::uint8_t b : frame_) {
        outgoing_.push_back({b, true});
    }
    frameBytesLeft_ += frame_.size();
    log_.record(LogKind::Command, {protocol::command::kFrameRead},
                "frame read: " + std::to_string(frame_.size()) + " bytes queued");
}

void CameraModule::resetRegisters() {
    for (const PowerUpValue& v : kPowerUpValues) {
        registers_[registerIndex(v.reg)] = v.value;
    }
    spiMode_ = protocol::kPowerUpSpiMode;
    lineBaud_ = protocol::kResetBaud;
    testMode_ = false;
    pendingWrite_.reset();
    outgoing_.clear();
    frameByteInFlight_ = false;
    frameBytesLeft_ = 0;
    replyBytesQueued_ = 0;
    frame_.clear();
    busyUntil_ = {};
}

void CameraModule::setRegister(Register r, std::uint16_t value) {
    registers_[registerIndex(r)] = value;
}

CameraModule::OutgoingByte CameraModule::takeOutgoing() {
    std::lock_guard lock(mutex_);
    if (outgoing_.empty()) {
        return {kFillerByte, false};
    }
    const QueuedByte next = outgoing_.front();
    outgoing_.pop_front();
    if (!next.partOfFrame) {
        --replyBytesQueued_;
    }
    frameByteInFlight_ = next.partOfFrame;
    return {next.value, true};
}

void CameraModule::outgoingByteFinished() {
    std::lock_guard lock(mutex_);
    if (!frameByteInFlight_) {
        return;
    }
    frameByteInFlight_ = false;
    if (frameBytesLeft_ > 0 && --frameBytesLeft_ == 0) {
        log_.record(LogKind::FrameSent, {},
                    "frame " + std::to_string(framesCaptured_) + ", " +
                        std::to_string(frame_.size()) + " bytes");
    }
}

bool CameraModule::hasOutgoing() const {
    std::lock_guard lock(mutex_);
    return !outgoing_.empty();
}

bool CameraModule::ready() const {
    std::lock_guard lock(mutex_);
    return frameBytesLeft_ == 0 && options_.now() >= busyUntil_;
}

std::uint16_t CameraModule::registerValue(Register r) const {
    std::lock_guard lock(mutex_);
    return registers_[registerIndex(r)];
}

int CameraModule::spiMode() const {
    std::lock_guard lock(mutex_);
    return spiMode_;
}

std::uint32_t CameraModule::lineBaud() const {
    std::lock_guard lock(mutex_);
    return lineBaud_;
}

bool CameraModule::testMode() const {
    std::lock_guard lock(mutex_);
    return testMode_;
}

std::uint32_t CameraModule::framesCaptured() const {
    std::lock_guard lock(mutex_);
    return framesCaptured_;
}

std::vector<std::uint8_t> CameraModule::currentFrame() const {
    std::lock_guard lock(mutex_);
    return frame_;
}

}  // namespace emulator
