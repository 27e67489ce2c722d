// Bytes the module sends by itself, a frame after the frame-read command: reception into the frame
// store, and whether a frame is on its way. While one is, nothing else may talk to the module: a
// request sent then would be answered after the frame, and its reply taken for frame bytes (or
// frame bytes for its reply). A query therefore first waits here until the line is quiet.
#pragma once

#include <functional>
#include <optional>

#include "frames/frame_store.h"
#include "protocol/clock.h"
#include "serial/frame_end.h"
#include "serial/reception.h"
#include "serial/serial_control.h"
#include "serial/serial_link.h"

namespace serial {

class FrameArrival final : public LineWatch {
  public:
    FrameArrival(SerialControl& control, SerialLink& link, frames::FrameStore& frames,
                 protocol::Clock& clock);

    // The frame-read command has gone out: a frame is on its way until its bytes have ended, or
    // until none has come within the module's reply time.
    void frameRequested();
    // One reception poll: every waiting byte into the store (what fits).
    Reception::Batch poll();
    // A requested frame has not begun yet, or bytes came and the line has not been quiet for
    // the idle time since.
    bool arriving() const;
    // Nothing has come for the idle time: a frame that was arriving has ended.
    bool lineQuiet() const;
    // A frame asked for is on its way: it has not been seen to end, and it has not yet had the
    // time the longest frame takes. Bytes that keep coming with no frame asked for (a babbling
    // line) are no frame on its way.
    bool frameOnItsWay() const;

    // LineWatch: when a frame has been asked for and has not been seen to end, polls it into the
    // store until it has. False when it still was arriving after the time the longest frame
    // takes at the line's speed.
    bool waitUntilQuiet() override;

    // The longest a frame may take from its request to its end at the line's speed: the module's
    // reply time, then a store's worth of characters (a frame never holds more).
    protocol::Clock::Duration longestFrame() const;

    // Told after a poll stored bytes outside the window's own tick (during a query's wait).
    std::function<void()> onBytesStored;

  private:
    std::uint32_t baud() const;

    SerialControl& control_;
    SerialLink& link_;
    protocol::Clock& clock_;
    Reception reception_;
    FrameEnd frameEnd_;
    // Until when a requested frame that has not begun is still awaited.
    std::optional<protocol::Clock::TimePoint> awaitedUntil_;
    // A frame has been asked for, and no poll has yet seen it end; since when.
    bool frameExpected_ = false;
    protocol::Clock::TimePoint requestedAt_{};
};

}  // namespace serial
