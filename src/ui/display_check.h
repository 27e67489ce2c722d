// Whether a window can be shown at all: without a display Qt aborts with a long message, so the
// programs check first and say so in one line.
#pragma once

namespace ui {

// True when QT_QPA_PLATFORM names a platform that needs no display (offscreen, minimal, vnc...),
// or DISPLAY or WAYLAND_DISPLAY is set.
bool displayAvailable();

}  // namespace ui
