#include "lpt/frame_download.h"

#include <vector>

namespace lpt {

DownloadResult downloadFrame(SpiLink& link, frames::FrameStore& store, DownloadProgress& progress) {
    DownloadResult result;
    std::vector<std::uint8_t> received;  // kept for the exchange trace only
    const bool tracing = link.tracing();
    link.setStatusByte(0);
    while (store.count() < kDownloadLimit && (link.statusByte() & kReadyBit) == 0) {
        const std::uint8_t byte = link.read1byteLPTport();
        store.store(byte);
        if (tracing) {
            received.push_back(byte);
        }
        ++result.bytesStored;
        if (!progress.byteStored(store.count())) {
            result.cancelled = true;
            break;
        }
    }
    result.stoppedByReadyFlag = (link.statusByte() & kReadyBit) != 0;
    link.recordFromModule(received);
    return result;
}

}  // namespace lpt
