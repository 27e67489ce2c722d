#include "session/spi_session.h"

#include "lpt/frame_download.h"
#include "lpt/pins.h"
#include "protocol/wire.h"

namespace session {

SpiSession::SpiSession(lpt::SpiLink& link, protocol::Clock& clock)
    : ModuleSession(link, clock, SessionWaits{false, true}), link_(link) {}

Result<void> SpiSession::start(int listIndex) {
    const bool started = link_.startPortAccess();
    link_.enterStartState(listIndex);
    mode_ = 0;
    if (!started) {
        return fault(LinkFault::Kind::NoPort, link_.failureReason());
    }
    return {};
}

void SpiSession::stop() {
    link_.stopPortAccess();
}

void SpiSession::choosePort(int listIndex) {
    link_.choosePort(listIndex);
}

void SpiSession::switchModeInOperation(int mode) {
    link_.switchMode(mode);
    mode_ = mode;
}

Result<void> SpiSession::switchMode(int mode) {
    return run(Exchange::SpiMode, [&](Operation& op) {
        switchModeInOperation(mode);
        return op.finish();
    });
}

Result<ModeSearch> SpiSession::takeMode(int mode) {
    return run(Exchange::SpiMode, [&](Operation& op) -> Result<ModeSearch> {
        const int target = mode == 0 ? kModeZeroThrough : mode;
        for (int sentIn = 0; sentIn < protocol::kSpiModeCount; ++sentIn) {
            link_.assumeMode(sentIn);
            protocol::writeRegister(link_, protocol::Register::SpiMode,
                                    static_cast<std::uint16_t>(target));
        }
        link_.assumeMode(target);
        mode_ = target;
        const auto reply = protocol::queryRegister(link_, protocol::Register::SpiMode);
        if (!reply) {
            return op.failure();
        }
        ModeSearch search{*reply == target, target, static_cast<std::uint8_t>(*reply)};
        if (search.found && target != mode) {
            switchModeInOperation(mode);
        }
        return op.finish(search);
    });
}

Result<Settings> SpiSession::readSettings() {
    auto settings = ModuleSession::readSettings();
    if (!settings) {
        return settings;
    }
    const auto mode = readSpiMode();
    if (!mode) {
        return mode.fault();
    }
    Settings all = *settings;
    all.spiMode = *mode;
    return all;
}

StatusPoll SpiSession::pollReady() {
    if (operationOpen() || link_.portAccessStopped()) {
        return StatusPoll::LinkInUse;
    }
    const auto status = link_.pollStatus();
    if (!status) {
        return StatusPoll::NoLink;
    }
    return (*status & lpt::kReadyBit) != 0 ? StatusPoll::Ready : StatusPoll::NotReady;
}

StatusPoll SpiSession::pollReadyAhead() {
    if (operationOpen() || link_.portAccessStopped()) {
        return StatusPoll::LinkInUse;
    }
    const auto ahead = link_.pollStatusAhead();
    switch (ahead.outcome) {
        case lpt::SpiLink::StatusAhead::Outcome::Status:
            return (ahead.status & lpt::kReadyBit) != 0 ? StatusPoll::Ready : StatusPoll::NotReady;
        case lpt::SpiLink::StatusAhead::Outcome::NotYet:
            return StatusPoll::LinkInUse;
        case lpt::SpiLink::StatusAhead::Outcome::Failed:
            break;
    }
    return StatusPoll::NoLink;
}

Result<FrameFetch> SpiSession::readFrame(frames::FrameStore& store, const FetchProgress& progress) {
    return fetch(store, progress, true);
}

Result<FrameFetch> SpiSession::download(frames::FrameStore& store, const FetchProgress& progress) {
    return fetch(store, progress, false);
}

Result<FrameFetch> SpiSession::fetch(frames::FrameStore& store, const FetchProgress& progress,
                                     bool frameReadCommand) {
    return run(Exchange::FrameRead, [&](Operation& op) -> Result<FrameFetch> {
        const auto start = clock_.now();
        if (frameReadCommand) {
            protocol::sendCommand(link_, protocol::command::kFrameRead);
        }
        const lpt::DownloadResult result =
            lpt::downloadFrame(link_, store, {progress.counted, progress.cancelled});
        FrameFetch fetch;
        fetch.bytes = result.bytesStored;
        fetch.transferTime = clock_.now() - start;
        fetch.cancelled = result.cancelled;
        fetch.endedByReadyFlag = result.stoppedByReadyFlag;
        if (result.linkFault) {
            return op.failure(fault(LinkFault::Kind::Lost, "the port failed during the download"));
        }
        return op.finish(fetch);
    });
}

Result<void> SpiSession::reset() {
    return run(Exchange::Reset, [&](Operation& op) {
        protocol::sendCommand(link_, protocol::command::kReset);
        if (mode_ != 0) {
            switchModeInOperation(0);
        }
        switchModeInOperation(0);
        return op.finish();
    });
}

}  // namespace session
