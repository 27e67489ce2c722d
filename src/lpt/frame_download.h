// The frame download over the SPI link: bytes are clocked in one chip-select frame each and
// appended to the frame store until the module's ready flag, read with the eighth bit of the
// byte just received, says the frame is out, or the download limit is reached.
#pragma once

#include <cstdint>
#include <functional>

#include "frames/frame_store.h"
#include "lpt/spi_link.h"
#include "protocol/encodings.h"

namespace lpt {

// What the download tells and asks after every stored byte: `counted` gets the store's count
// (the window decides there how often to repaint and process events); `cancelled` true stops the
// download. Either may be empty.
struct DownloadProgress {
    std::function<void(std::uint32_t count)> counted;
    std::function<bool()> cancelled;
};

// No byte is read once the store holds this many: a frame never needs more, and every store
// stays inside the buffer.
inline constexpr auto kDownloadLimit = static_cast<std::uint32_t>(protocol::kMaxFrameBytes);

struct DownloadResult {
    std::uint32_t bytesStored = 0;
    bool stoppedByReadyFlag = false;
    bool cancelled = false;
    // A port access failed: the frame ended there. Only the bytes read whole before the fault
    // are stored, and of those, when the fault showed answers out of turn, only the ones the
    // link had confirmed; the link holds the fault for the operator.
    bool linkFault = false;
};

// Runs the loop. The first byte is read whatever the module showed before: only the ready flag
// read with a byte of this frame ends it.
DownloadResult downloadFrame(SpiLink& link, frames::FrameStore& store,
                             const DownloadProgress& progress = {});

}  // namespace lpt
