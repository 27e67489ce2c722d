// The serial frame-end rule as frames arrive: bytes in bursts with gaps of any length between
// them, frames asked for, the line's speed changed, bursts that overflow the store. A gap shorter
// than the idle time never ends a frame, one as long always does, and every byte is stored or
// counted as dropped.
#include <algorithm>

#include "frames/frame_store.h"
#include "fuzz_script.h"
#include "protocol/encodings.h"
#include "serial/frame_arrival.h"
#include "serial/serial_link.h"
#include "support/fake_clock.h"
#include "support/scripted_serial_control.h"

namespace {

using std::chrono::milliseconds;

// An Other step below this asks for a frame; from it on, it sets the line's speed.
constexpr std::uint8_t kSpeedArgument = 128;
// Bytes in a Take step (a burst) for each unit of its argument: five long bursts fill the store.
constexpr std::size_t kBurstUnit = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    testing_support::FakeClock clock;
    testing_support::ScriptedSerialControl line(&clock);
    serial::SerialLink link(line, clock);
    // One store for every input, emptied at the start: a fresh 64 KiB buffer each time is mostly
    // page faults under the address sanitizer.
    static frames::FrameStore store;
    store.clear();
    serial::FrameArrival arrival(line, link, store, clock);
    std::size_t arrived = 0;
    std::size_t dropped = 0;
    std::optional<protocol::Clock::TimePoint> lastArrival;
    std::optional<protocol::Clock::TimePoint> requestedAt;

    fuzz::Script script(data, size);
    for (fuzz::Step step; script.next(step);) {
        std::vector<std::uint8_t> bytes;
        switch (step.action) {
            case fuzz::Action::Send:
                bytes.assign(step.payload.begin(), step.payload.end());
                break;
            case fuzz::Action::Take:
                bytes.assign(step.argument * kBurstUnit, 0xFF);
                break;
            case fuzz::Action::Wait:
                clock.waitBlocking(milliseconds(step.argument));
                break;
            case fuzz::Action::Other:
                if (step.argument < kSpeedArgument) {
                    arrival.frameRequested();
                    requestedAt = clock.now();
                } else {
                    line.setBaud(
                        protocol::kSpeedCodes[step.argument % protocol::kSpeedCodes.size()].baud);
                }
                break;
        }
        line.arrive(bytes);
        const serial::Reception::Batch batch = arrival.poll();
        arrived += bytes.size();
        dropped += batch.dropped;
        FUZZ_CHECK(batch.stored + batch.dropped == bytes.size());
        FUZZ_CHECK(!batch.overflowStarted || batch.dropped > 0);
        FUZZ_CHECK(store.count() == std::min(arrived, frames::FrameStore::kCapacity));
        FUZZ_CHECK(store.count() + dropped == arrived);

        const auto now = clock.now();
        if (!bytes.empty()) {
            lastArrival = now;
        }
        // The idle time: at least 50 ms and twenty characters of ten bits.
        const auto idle = serial::FrameEnd::idleTimeFor(line.baud());
        FUZZ_CHECK(idle >= milliseconds(50));
        // Twenty characters of ten bits, to the microsecond the rule counts in.
        FUZZ_CHECK((idle + std::chrono::microseconds(1)) * line.baud() >=
                   std::chrono::seconds(200));
        const bool quiet = !lastArrival || now - *lastArrival >= idle;
        FUZZ_CHECK(arrival.lineQuiet() == quiet);
        FUZZ_CHECK(quiet || arrival.arriving());
        // A frame is on its way only when asked for, while it arrives, within the longest time.
        FUZZ_CHECK(!arrival.frameOnItsWay() || (arrival.arriving() && requestedAt &&
                                                now - *requestedAt < arrival.longestFrame()));
    }
    return 0;
}
