// A serial session on a scripted line whose far end acts as a fresh module: each request byte is
// answered whole with its register's power-up value, the frame-read command with `frame`. Bytes
// nobody asked for are put on the line by `beforeReply` (sent just before each answer), by
// `shapeReply` (which may change an answer, and keep part of it back) and by `noise`, which runs
// whenever the PC looks at the line, with the time on the clock, as bytes due by then arrive.
#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include "protocol/encodings.h"
#include "protocol/wire.h"
#include "serial/serial_link.h"
#include "session/serial_session.h"
#include "support/fake_clock.h"
#include "support/scripted_serial_control.h"

namespace testing_support {

struct SerialSessionRig {
    using Bytes = std::vector<std::uint8_t>;

    explicit SerialSessionRig(Bytes moduleFrame) : frame(std::move(moduleFrame)) {
        serial.start();
        line.module = [this](const Bytes& sent) {
            if (sent.size() != 1) {
                return;
            }
            if (sent[0] == protocol::command::kFrameRead) {
                line.arrive(frame);
            } else if (const auto r = protocol::registerForRequest(sent[0])) {
                line.arrive(beforeReply);
                const Bytes reply = protocol::valueBytes(*r, powerUpValue(*r));
                line.arrive(shapeReply ? shapeReply(reply) : reply);
            }
        };
        line.onLook = [this] {
            if (noise) {
                noise(elapsed());
            }
        };
    }

    std::chrono::milliseconds elapsed() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock.now() -
                                                                     protocol::Clock::TimePoint{});
    }

    static std::uint16_t powerUpValue(protocol::Register r) {
        switch (r) {
            case protocol::Register::FrameWidth:
                return protocol::kPowerUpFrameSize.width;
            case protocol::Register::FrameHeight:
                return protocol::kPowerUpFrameSize.height;
            case protocol::Register::Compression:
                return *protocol::encodeCompression(protocol::kPowerUpCompression.level,
                                                    protocol::kPowerUpCompression.mode);
            case protocol::Register::Brightness:
                return protocol::encodeBrightness(protocol::kPowerUpBrightnessStep);
            default:
                return protocol::encodeColourLevel(protocol::kPowerUpColourLevelStep);
        }
    }

    static bool holdsPowerUpValues(const session::Settings& s) {
        const int level = protocol::kPowerUpColourLevelStep;
        return s.frameSize == protocol::kPowerUpFrameSize &&
               s.compression == protocol::kPowerUpCompression &&
               s.levels == session::Levels{protocol::kPowerUpBrightnessStep, level, level, level};
    }

    FakeClock clock;
    ScriptedSerialControl line{&clock};
    serial::SerialLink link{line, clock};
    frames::FrameStore received;
    session::SerialSession serial{line, link, received, clock};
    Bytes frame;
    Bytes beforeReply;
    std::function<Bytes(Bytes reply)> shapeReply;
    std::function<void(std::chrono::milliseconds now)> noise;
};

}  // namespace testing_support
