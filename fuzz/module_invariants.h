// The emulated module's invariants, checked by the fuzz targets that drive it through a link: its
// registers hold what they can carry and its ports run at values they have, it owes at most one
// frame and a bounded number of replies, and a frame it owes is counted out whole.
#pragma once

#include <algorithm>

#include "emulator/camera_module.h"
#include "fuzz_script.h"
#include "protocol/encodings.h"

namespace fuzz {

inline void checkRegisters(const emulator::CameraModule& module) {
    for (protocol::Register r : protocol::kAllRegisters) {
        FUZZ_CHECK(protocol::isWide(r) || module.registerValue(r) <= 0xFF);
    }
    FUZZ_CHECK(module.spiMode() >= 0 && module.spiMode() < protocol::kSpiModeCount);
    FUZZ_CHECK(protocol::speedCodeForBaud(module.lineBaud()).has_value());
}

// Frames of this size are what the sessions capture: made at once (a JPEG encoder per capture
// would slow the fuzzing a hundredfold) and larger than the reply limit, so two frames owed at
// once go past the bound.
inline constexpr std::size_t kSessionFrameBytes = emulator::CameraModule::kReplyQueueLimit + 100;

// The module a session drives, on a clock the session moves.
struct SessionModule {
    static emulator::CameraModule::Options options(const emulator::CameraModule::TimePoint& now) {
        emulator::CameraModule::Options o;
        o.now = [&now] { return now; };
        o.fixedFrame = std::vector<std::uint8_t>(kSessionFrameBytes, 0x5A);
        return o;
    }

    emulator::CameraModule::TimePoint now{};
    emulator::EmulatorLog log;
    emulator::CameraModule module{log, options(now)};
};

// Takes everything the module owes, as a PC that reads on would: no more than one frame and the
// reply limit, and no frame left in progress after it (once a capture's busy time is over: the
// clock moves on by an hour). Leaves the module with nothing to send.
inline void drainAndCheck(SessionModule& session) {
    emulator::CameraModule& module = session.module;
    const std::size_t bound =
        module.currentFrame().size() + emulator::CameraModule::kReplyQueueLimit;
    std::size_t taken = 0;
    while (module.hasOutgoing()) {
        FUZZ_CHECK(module.takeOutgoing().queued);
        module.outgoingByteFinished();
        FUZZ_CHECK(++taken <= bound);
    }
    FUZZ_CHECK(!module.takeOutgoing().queued);
    session.now += std::chrono::hours(1);
    FUZZ_CHECK(module.ready());
    checkRegisters(module);
}

}  // namespace fuzz
