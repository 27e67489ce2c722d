// The frame download over the SPI link: bytes are clocked in one chip-select frame each and
// appended to the frame store until the module's ready flag, read with the eighth bit of the
// byte just received, says the frame is out, or the download limit is reached.
#pragma once

#include <cstdint>

#include "frames/frame_store.h"
#include "lpt/spi_link.h"

namespace lpt {

// Told after every stored byte; decides how often the window gets to repaint and process events.
class DownloadProgress {
  public:
    virtual ~DownloadProgress() = default;
    // `count` is the store's count after the byte. False stops the download (the window is
    // closing, port access is gone).
    virtual bool byteStored(std::uint32_t count) = 0;
};

// No byte is read once the store holds this many: a frame never needs more, and every store
// stays inside the buffer.
inline constexpr std::uint32_t kDownloadLimit = 65000;

struct DownloadResult {
    std::uint32_t bytesStored = 0;
    bool stoppedByReadyFlag = false;
    bool cancelled = false;
    // A port access failed: the frame ended there. Only the bytes read whole before the fault
    // are stored; the link holds the fault for the operator.
    bool linkFault = false;
};

// Runs the loop: status byte to 0 first, so the first byte is read whatever the module shows.
DownloadResult downloadFrame(SpiLink& link, frames::FrameStore& store, DownloadProgress& progress);

}  // namespace lpt
