#include "lpt/frame_download.h"

#include <vector>

namespace lpt {

namespace {
// Bytes between two confirmations of the port's answers. A port that can only confirm by waiting
// (a socket to a simulator) spends that wait once per this many bytes; a fault that puts the
// answers in doubt costs at most this many real bytes.
constexpr std::uint32_t kConfirmEvery = 1024;
}  // namespace

DownloadResult downloadFrame(SpiLink& link, frames::FrameStore& store, DownloadProgress& progress) {
    DownloadResult result;
    std::vector<std::uint8_t> received;  // kept for the exchange trace only
    const bool tracing = link.tracing();
    const std::uint32_t first = store.count();
    std::uint32_t confirmed = first;  // the store holds the module's bytes up to here for sure
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
        if ((store.count() - first) % kConfirmEvery == 0) {
            if (!link.confirmReads()) {
                result.linkFault = true;
                break;
            }
            confirmed = store.count();
        }
        if (!progress.byteStored(store.count())) {
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
        if (tracing) {
            received.resize(confirmed - first);
        }
    }
    result.bytesStored = store.count() - first;
    result.stoppedByReadyFlag = !result.linkFault && (link.statusByte() & kReadyBit) != 0;
    link.recordFromModule(received);
    link.traceFault();
    return result;
}

}  // namespace lpt
