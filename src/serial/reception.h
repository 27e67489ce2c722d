// Frame reception: each poll takes every byte that has arrived and appends it to the frame store.
// A full store takes nothing more; the bytes dropped are counted so the operator can be told, once
// for each frame that overflows.
#pragma once

#include <cstddef>

#include "frames/frame_store.h"
#include "serial/serial_link.h"

namespace serial {

class Reception {
  public:
    Reception(SerialLink& link, frames::FrameStore& frames) : link_(link), frames_(frames) {}

    struct Batch {
        std::size_t stored = 0;
        std::size_t dropped = 0;  // arrived while the store was full
        // True on the first batch that dropped bytes since the store last had room.
        bool overflowStarted = false;

        bool empty() const { return stored == 0 && dropped == 0; }
    };

    // Takes all waiting bytes (also when none wait) and stores what fits.
    Batch poll();

  private:
    SerialLink& link_;
    frames::FrameStore& frames_;
    bool overflowing_ = false;
};

}  // namespace serial
