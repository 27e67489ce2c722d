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
        if (link.lost()) {
            // Not a byte of the module's: the fault (or the closed window) ends the frame here.
            result.cancelled = link.portAccessStopped();
            result.linkFault = !result.cancelled;
            break;
        }
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
    result.stoppedByReadyFlag = !result.linkFault && (link.statusByte() & kReadyBit) != 0;
    link.recordFromModule(received);
    link.traceFault();
    return result;
}

}  // namespace lpt
