#include "session/module_session.h"

#include <string>

#include "protocol/wire.h"

namespace session {

namespace {

constexpr protocol::Register kLevelRegisters[kLevelCount] = {
    protocol::Register::Brightness, protocol::Register::Red, protocol::Register::Green,
    protocol::Register::Blue};

}  // namespace

// ---- Operation

ModuleSession::Operation::Operation(ModuleSession& session, Exchange what) : session_(session) {
    if (session_.open_) {
        refused_ = true;
        return;
    }
    session_.link_.beginOperation();
    session_.setOpen(what);
}

ModuleSession::Operation::~Operation() {
    if (!refused_) {
        // Every operation ends through finish() or failure(), which took the link's fault; one
        // left behind is not kept for the next operation.
        session_.link_.takeFault();
        session_.setOpen(std::nullopt);
    }
}

LinkFault ModuleSession::Operation::refusal() const {
    return session_.fault(LinkFault::Kind::Busy);
}

std::optional<LinkFault> ModuleSession::Operation::takeFault() {
    auto fault = session_.link_.takeFault();
    session_.linkDown_ =
        fault && (fault->kind == LinkFault::Kind::NoPort || fault->kind == LinkFault::Kind::Lost);
    return fault;
}

Result<void> ModuleSession::Operation::finish() {
    if (auto fault = takeFault()) {
        return *fault;
    }
    return {};
}

LinkFault ModuleSession::Operation::failure(std::optional<LinkFault> otherwise) {
    if (auto fault = takeFault()) {
        return *fault;
    }
    return otherwise ? *otherwise : session_.fault(LinkFault::Kind::Silent);
}

// ---- Session

ModuleSession::ModuleSession(protocol::ModuleLink& link, protocol::Clock& clock, SessionWaits waits)
    : link_(link), clock_(clock), waits_(waits) {}

std::optional<Exchange> ModuleSession::busyWith() const {
    return open_ ? open_ : busyOutsideOperations();
}

void ModuleSession::setOpen(std::optional<Exchange> what) {
    open_ = what;
    if (busyChanged_) {
        busyChanged_();
    }
}

LinkFault ModuleSession::fault(LinkFault::Kind kind, std::string reason) const {
    return {kind, link_.name(), std::move(reason)};
}

void ModuleSession::waitBetweenReads() {
    if (waits_.waitBetweenReads) {
        clock_.waitYielding(kBetweenReads);
    }
}

Result<void> ModuleSession::writeCompression(protocol::CompressionSetting setting) {
    const auto value = protocol::encodeCompression(setting.level, setting.mode);
    if (!value) {
        // A wrapped value would be another setting.
        return fault(LinkFault::Kind::Refused,
                     "compression level " + std::to_string(setting.level) + " does not fit");
    }
    return run(Exchange::Setting, [&](Operation& op) {
        protocol::writeRegister(link_, protocol::Register::Compression, *value);
        if (waits_.freezeAfterCompressionWrite) {
            clock_.waitBlocking(kCompressionFreeze);
        }
        return op.finish();
    });
}

Result<void> ModuleSession::writeLevel(Level level, int step) {
    return run(Exchange::Setting, [&](Operation& op) {
        const std::uint8_t value = level == Level::Brightness ? protocol::encodeBrightness(step)
                                                              : protocol::encodeColourLevel(step);
        protocol::writeRegister(link_, kLevelRegisters[static_cast<std::size_t>(level)], value);
        return op.finish();
    });
}

Result<void> ModuleSession::writeFrameSize(protocol::FrameSize size) {
    return run(Exchange::Setting, [&](Operation& op) {
        protocol::writeRegister(link_, protocol::Register::FrameWidth, size.width);
        clock_.waitYielding(kBetweenSizeWrites);
        protocol::writeRegister(link_, protocol::Register::FrameHeight, size.height);
        return op.finish();
    });
}

Result<void> ModuleSession::writeTestMode(bool on) {
    return run(Exchange::Setting, [&](Operation& op) {
        protocol::sendCommand(
            link_, on ? protocol::command::kTestModeOn : protocol::command::kTestModeOff);
        return op.finish();
    });
}

Result<protocol::CompressionSetting> ModuleSession::readCompression() {
    return run(Exchange::ReadBack, [&](Operation& op) {
        return query(op, protocol::Register::Compression, protocol::decodeCompression);
    });
}

Result<Levels> ModuleSession::readLevels() {
    return run(Exchange::ReadBack, [&](Operation& op) -> Result<Levels> {
        std::uint8_t replies[kLevelCount] = {};
        for (std::size_t i = 0; i < kLevelCount; ++i) {
            const auto reply = protocol::queryRegister(link_, kLevelRegisters[i]);
            if (!reply) {
                return op.failure();
            }
            replies[i] = static_cast<std::uint8_t>(*reply);
            if (i + 1 < kLevelCount) {
                waitBetweenReads();
            }
        }
        return op.finish(Levels{
            protocol::decodeBrightness(replies[0]), protocol::decodeColourLevel(replies[1]),
            protocol::decodeColourLevel(replies[2]), protocol::decodeColourLevel(replies[3])});
    });
}

Result<protocol::FrameSize> ModuleSession::readFrameSize() {
    return run(Exchange::ReadBack, [&](Operation& op) -> Result<protocol::FrameSize> {
        const auto width = protocol::queryRegister(link_, protocol::Register::FrameWidth);
        if (!width) {
            return op.failure();
        }
        waitBetweenReads();
        const auto height = protocol::queryRegister(link_, protocol::Register::FrameHeight);
        if (!height) {
            return op.failure();
        }
        return op.finish(protocol::FrameSize{*width, *height});
    });
}

Result<std::optional<int>> ModuleSession::readSpiMode() {
    return run(Exchange::ReadBack, [&](Operation& op) {
        return query(op, protocol::Register::SpiMode, protocol::decodeSpiMode);
    });
}

Result<Settings> ModuleSession::readSettings() {
    Settings settings;
    const auto compression = readCompression();
    if (!compression) {
        return compression.fault();
    }
    settings.compression = *compression;
    const auto levels = readLevels();
    if (!levels) {
        return levels.fault();
    }
    settings.levels = *levels;
    const auto size = readFrameSize();
    if (!size) {
        return size.fault();
    }
    settings.frameSize = *size;
    return settings;
}

Result<void> ModuleSession::capture() {
    return run(Exchange::Capture, [&](Operation& op) {
        protocol::sendCommand(link_, protocol::command::kCapture);
        return op.finish();
    });
}

Result<FrameFetch> ModuleSession::captureAndRead(frames::FrameStore& store,
                                                 const FetchProgress& progress) {
    if (const auto captured = capture(); !captured) {
        return captured.fault();
    }
    clock_.waitYielding(kCompressTime);
    return readFrame(store, progress);
}

}  // namespace session
