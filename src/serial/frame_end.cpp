#include "serial/frame_end.h"

#include <algorithm>

#include "protocol/wire.h"

namespace serial {

FrameEnd::Duration FrameEnd::idleTimeFor(std::uint32_t baud) {
    const auto characters =
        protocol::characterTime<std::chrono::microseconds>(baud, kIdleCharacters);
    return std::max<Duration>(kMinimumIdle, characters);
}

bool FrameEnd::lineQuiet(TimePoint now, std::uint32_t baud) const {
    return !lastArrival_ || now - *lastArrival_ >= idleTimeFor(baud);
}

}  // namespace serial
