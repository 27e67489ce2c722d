#include "lpt/frame_download.h"

namespace lpt {

DownloadResult downloadFrame(SpiLink& link, frames::FrameStore& store,
                             const DownloadProgress& progress) {
    DownloadResult result;
    const std::uint32_t first = store.count();
    bool ready = false;
    while (store.count() < kDownloadLimit && !ready) {
        const auto in = link.receiveFrameByte();
        if (!in) {
            // Not a byte of the module's: the fault (or the closed window) ends the frame here.
            result.cancelled = link.portAccessStopped();
            break;
        }
        store.store(in->value);
        ready = (in->status & kReadyBit) != 0;
        if (progress.counted) {
            progress.counted(store.count());
        }
        if (progress.cancelled && progress.cancelled()) {
            result.cancelled = true;
            break;
        }
    }
    // A fault that showed answers out of turn takes back the bytes the link no longer vouches
    // for.
    store.withdrawTo(store.count() - link.endFrame(result.cancelled));
    result.linkFault = !result.cancelled && link.lost();
    result.bytesStored = store.count() - first;
    result.stoppedByReadyFlag = !result.linkFault && ready;
    return result;
}

}  // namespace lpt
