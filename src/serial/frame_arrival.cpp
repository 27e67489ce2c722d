#include "serial/frame_arrival.h"

#include "protocol/encodings.h"
#include "protocol/wire.h"
#include "serial/line_settings.h"

namespace serial {

namespace {
constexpr auto kQuietPollInterval = std::chrono::milliseconds(1);
}  // namespace

FrameArrival::FrameArrival(SerialControl& control, SerialLink& link, frames::FrameStore& frames,
                           protocol::Clock& clock)
    : control_(control), link_(link), clock_(clock), reception_(link, frames) {}

void FrameArrival::frameRequested() {
    frameExpected_ = true;
    requestedAt_ = clock_.now();
    awaitedUntil_ = clock_.now() + link_.replyTimeLimit();
}

Reception::Batch FrameArrival::poll() {
    const Reception::Batch batch = reception_.poll();
    if (!batch.empty()) {
        frameEnd_.bytesArrived(clock_.now());
        awaitedUntil_.reset();  // the frame has begun: from now on the line's quiet ends it
    }
    if (!arriving()) {
        frameExpected_ = false;  // the frame asked for has ended, or never began
    }
    return batch;
}

bool FrameArrival::arriving() const {
    const auto now = clock_.now();
    if (awaitedUntil_ && now < *awaitedUntil_) {
        return true;
    }
    return !frameEnd_.lineQuiet(now, baud());
}

bool FrameArrival::frameOnItsWay() const {
    return frameExpected_ && arriving() && clock_.now() - requestedAt_ < longestFrame();
}

bool FrameArrival::lineQuiet() const {
    return frameEnd_.lineQuiet(clock_.now(), baud());
}

bool FrameArrival::waitUntilQuiet() {
    if (!frameExpected_) {
        // Bytes that come with no frame asked for are nobody's: the query drops them before its
        // request instead of storing them as a frame.
        return true;
    }
    const auto deadline = clock_.now() + longestFrame();
    while (true) {
        if (!poll().empty() && onBytesStored) {
            onBytesStored();
        }
        if (!arriving()) {
            return true;
        }
        if (!control_.isOpen() || clock_.now() >= deadline) {
            return false;
        }
        clock_.waitYielding(kQuietPollInterval);
    }
}

protocol::Clock::Duration FrameArrival::longestFrame() const {
    return link_.replyTimeLimit() + protocol::characterTime(baud(), frames::FrameStore::kCapacity);
}

std::uint32_t FrameArrival::baud() const {
    return control_.baud();
}

}  // namespace serial
