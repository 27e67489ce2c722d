#include "serial/frame_end.h"

#include <algorithm>

namespace serial {

FrameEnd::Duration FrameEnd::idleTimeFor(std::uint32_t baud) {
    using namespace std::chrono;
    const auto characters =
        microseconds(static_cast<std::int64_t>(kIdleCharacters) * kBitsPerCharacter * 1'000'000 /
                     std::max<std::uint32_t>(baud, 1));
    return std::max<Duration>(kMinimumIdle, characters);
}

bool FrameEnd::lineQuiet(TimePoint now, std::uint32_t baud) const {
    return !lastArrival_ || now - *lastArrival_ >= idleTimeFor(baud);
}

}  // namespace serial
