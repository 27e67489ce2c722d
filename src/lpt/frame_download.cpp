#include "lpt/frame_download.h"

namespace lpt {

namespace {
// Bytes between two confirmations of the port's answers. A port that can only confirm by waiting
// (a socket to a simulator) spends that wait once per this many bytes; a fault that puts the
// answers in doubt costs at most this many real bytes.
constexpr std::uint32_t kConfirmEvery = 1024;
}  // namespace

DownloadResult downloadFrame(SpiLink& link, frames::FrameStore& store,
                             const DownloadProgress& progress) {
    DownloadResult result;
    const std::uint32_t first = store.count();
    std::uint32_t confirmed = first;  // the store holds the module's bytes up to here for sure
    bool ready = false;
    while (store.count() < kDownloadLimit && !ready) {
        const auto in = link.receiveFrameByte();
        if (!in) {
            // Not a byte of the module's: the fault (or the closed window) ends the frame here.
            result.cancelled = link.portAccessStopped();
            result.linkFault = !result.cancelled;
            break;
        }
        store.store(in->value);
        ready = (in->status & kReadyBit) != 0;
        if ((store.count() - first) % kConfirmEvery == 0) {
            if (!link.confirmReads()) {
                result.linkFault = true;
                break;
            }
            confirmed = store.count();
        }
        if (progress.counted) {
            progress.counted(store.count());
        }
        if (progress.cancelled && progress.cancelled()) {
            result.cancelled = true;
            break;
        }
    }
    // The frame's last answers are confirmed too: a byte out of turn ahead of the last one would
    // otherwise end the frame unseen.
    if (!result.cancelled && !result.linkFault && store.count() != confirmed &&
        !link.confirmReads()) {
        result.linkFault = true;
    }
    if (result.linkFault && link.readsInDoubt()) {
        store.withdrawTo(confirmed);
    }
    result.bytesStored = store.count() - first;
    result.stoppedByReadyFlag = !result.linkFault && ready;
    link.endFrame(result.bytesStored);
    return result;
}

}  // namespace lpt
