#include "camctl/frame_source.h"

#include "lpt/frame_download.h"
#include "protocol/registers.h"
#include "protocol/wire.h"

namespace camctl {

namespace {
constexpr auto kReceptionPollInterval = std::chrono::milliseconds(1);
}  // namespace

Fetched SpiFrameSource::fetch(frames::FrameStore& store,
                              const std::function<void(std::uint32_t)>& counted) {
    link_.beginOperation();
    protocol::sendCommand(link_, protocol::command::kCapture);
    clock_.waitYielding(kCompressTime);
    const auto start = clock_.now();
    protocol::sendCommand(link_, protocol::command::kFrameRead);
    const lpt::DownloadResult result = lpt::downloadFrame(link_, store, {counted, {}});
    Fetched fetched{clock_.now() - start, std::nullopt};
    if (const auto fault = link_.takeFault()) {
        fetched.failure = fault->systemText();
    }
    if (!fetched.failure && result.linkFault) {
        fetched.failure = "the port failed during the download";
    }
    return fetched;
}

Fetched SerialFrameSource::fetch(frames::FrameStore& store,
                                 const std::function<void(std::uint32_t)>& counted) {
    link_.beginOperation();
    // Bytes still on the line are the rest of a frame that was taken as ended (the line went
    // quiet for the idle time inside it): they belong to no frame of this request.
    link_.takeArrived();
    serial::FrameArrival arrival(control_, link_, store, clock_);
    protocol::sendCommand(link_, protocol::command::kCapture);
    clock_.waitYielding(kCompressTime);
    const auto start = clock_.now();
    arrival.frameRequested();
    protocol::sendCommand(link_, protocol::command::kFrameRead);
    // A frame never holds more than the store: that bounds how long one may take.
    const auto limit = link_.replyTimeLimit() +
                       protocol::characterTime(control_.baud(), frames::FrameStore::kCapacity);
    Fetched fetched;
    std::size_t dropped = 0;
    while (true) {
        const auto batch = arrival.poll();
        dropped += batch.dropped;
        if (batch.stored != 0 && counted) {
            counted(store.count());
        }
        if (auto fault = control_.takeLineFault()) {
            fetched.failure = *fault;
            break;
        }
        if (!control_.isOpen()) {
            fetched.failure = "the port closed";
            break;
        }
        if (!arrival.arriving()) {
            break;
        }
        if (clock_.now() - start > limit) {
            fetched.failure = "the frame did not end within its time limit";
            break;
        }
        clock_.waitYielding(kReceptionPollInterval);
    }
    fetched.transferTime = clock_.now() - start;
    if (!fetched.failure) {
        if (const auto fault = link_.takeFault()) {
            fetched.failure = fault->systemText();
        }
    }
    if (!fetched.failure && store.count() == 0) {
        fetched.failure = "the module sent no frame after the frame-read command";
    }
    if (!fetched.failure && dropped != 0) {
        fetched.failure = std::to_string(dropped) + " bytes came after the frame store was full";
    }
    return fetched;
}

}  // namespace camctl
