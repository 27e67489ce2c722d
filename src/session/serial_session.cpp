#include "session/serial_session.h"

#include <algorithm>
#include <string>

#include "protocol/wire.h"
#include "serial/frame_end.h"

namespace session {

namespace {
constexpr auto kReceptionPollInterval = std::chrono::milliseconds(1);
// The time the module needs to act on a speed change or a reset before the PC follows.
constexpr std::chrono::seconds kModuleSwitchTime{1};
}  // namespace

SerialSession::SerialSession(serial::SerialControl& control, serial::SerialLink& link,
                             frames::FrameStore& frames, protocol::Clock& clock)
    : ModuleSession(link, clock, SessionWaits{true, false}),
      control_(control),
      link_(link),
      arrival_(control, link, frames, clock) {
    link_.watchLine(arrival_);
}

std::optional<serial::OpenFailure> SerialSession::start(int portNumber, std::uint32_t baud) {
    portNumber_ = portNumber;
    if (!control_.setBaud(baud)) {
        return serial::OpenFailure{serial::OpenFault::SpeedRefused, control_.deviceOf(portNumber_),
                                   "the line refused " + std::to_string(baud) + " baud"};
    }
    control_.setCommPort(portNumber_);
    return control_.open();
}

void SerialSession::close(bool letLastBytesOut) {
    if (letLastBytesOut && control_.isOpen()) {
        clock_.waitYielding(serial::FrameEnd::idleTimeFor(control_.baud()));
    }
    control_.close();
}

std::optional<serial::OpenFailure> SerialSession::choosePort(int portNumber) {
    portNumber_ = portNumber;
    control_.close();
    control_.setCommPort(portNumber_);
    return control_.open();
}

std::optional<Exchange> SerialSession::busyOutsideOperations() const {
    if (arrival_.frameOnItsWay()) {
        return Exchange::FrameArriving;
    }
    return std::nullopt;
}

Result<SerialSession::ModuleSpeed> SerialSession::readSpeed() {
    return run(Exchange::LineSpeed, [&](Operation& op) {
        return query(op, protocol::Register::Speed, [](std::uint8_t code) {
            return ModuleSpeed{code, protocol::baudForSpeedCode(code)};
        });
    });
}

Result<void> SerialSession::writeSpeed(const protocol::SpeedCode& speed) {
    return run(Exchange::LineSpeed, [&](Operation& op) -> Result<void> {
        protocol::writeRegister(link_, protocol::Register::Speed, speed.code);
        clock_.waitYielding(kModuleSwitchTime);
        if (!control_.setBaud(speed.baud)) {
            return op.failure(fault(LinkFault::Kind::Refused,
                                    "the line refused " + std::to_string(speed.baud) + " baud"));
        }
        return op.finish();
    });
}

Result<void> SerialSession::reset() {
    return run(Exchange::Reset, [&](Operation& op) {
        protocol::sendCommand(link_, protocol::command::kReset);
        receiveThrough(kModuleSwitchTime);
        control_.setBaud(protocol::kResetBaud);
        return op.finish();
    });
}

void SerialSession::receiveThrough(protocol::Clock::Duration wait) {
    const auto end = clock_.now() + wait;
    for (auto left = wait; left > protocol::Clock::Duration{}; left = end - clock_.now()) {
        if (!arrival_.poll().empty() && arrival_.onBytesStored) {
            arrival_.onBytesStored();
        }
        clock_.waitYielding(std::min<protocol::Clock::Duration>(left, kReceptionPollInterval));
    }
}

Result<void> SerialSession::requestFrame() {
    return run(Exchange::FrameRead, [&](Operation& op) {
        // The frame starts with the module's first byte, not with what came before it.
        link_.dropWaiting("before the frame-read command");
        protocol::sendCommand(link_, protocol::command::kFrameRead);
        if (control_.isOpen()) {
            arrival_.frameRequested();
        }
        return op.finish();
    });
}

std::optional<LinkFault> SerialSession::takeLineFault() {
    if (auto lineFault = control_.takeLineFault()) {
        return serial::lineFaultOf(*lineFault, link_.name());
    }
    return std::nullopt;
}

Result<FrameFetch> SerialSession::readFrame(frames::FrameStore& store,
                                            const FetchProgress& progress) {
    return run(Exchange::FrameRead,
               [&](Operation& op) { return receiveFrame(op, store, progress); });
}

Result<FrameFetch> SerialSession::receiveFrame(Operation& op, frames::FrameStore& store,
                                               const FetchProgress& progress) {
    // Bytes still on the line (the rest of a frame that was taken as ended, a byte sent unasked
    // since the capture) belong to no frame of this request.
    link_.dropWaiting("before the frame-read command");
    serial::FrameArrival arrival(control_, link_, store, clock_);
    const auto start = clock_.now();
    arrival.frameRequested();
    protocol::sendCommand(link_, protocol::command::kFrameRead);
    const auto limit = arrival.longestFrame();
    const std::uint32_t first = store.count();
    std::size_t dropped = 0;
    std::optional<LinkFault> failure;
    FrameFetch fetch;
    while (true) {
        const auto batch = arrival.poll();
        dropped += batch.dropped;
        if (batch.stored != 0 && progress.counted) {
            progress.counted(store.count());
        }
        if (auto lineFault = takeLineFault()) {
            failure = *lineFault;
            break;
        }
        if (!control_.isOpen()) {
            failure = fault(LinkFault::Kind::NoPort, "the port closed");
            break;
        }
        if (!arrival.arriving()) {
            break;
        }
        if (progress.cancelled && progress.cancelled()) {
            fetch.cancelled = true;
            break;
        }
        if (clock_.now() - start > limit) {
            failure = fault(LinkFault::Kind::Lost, "the frame did not end within its time limit");
            break;
        }
        clock_.waitYielding(kReceptionPollInterval);
    }
    fetch.transferTime = clock_.now() - start;
    fetch.bytes = store.count() - first;
    if (failure) {
        return op.failure(failure);
    }
    if (!fetch.cancelled && fetch.bytes == 0) {
        return op.failure(fault(LinkFault::Kind::Silent,
                                "the module sent no frame after the frame-read command"));
    }
    if (dropped != 0) {
        return op.failure(
            fault(LinkFault::Kind::StrayByte,
                  std::to_string(dropped) + " bytes came after the frame store was full"));
    }
    return op.finish(fetch);
}

}  // namespace session
