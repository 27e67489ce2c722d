#include "ui/capture_cycle.h"

namespace ui {

CaptureCycle::CaptureCycle(CycleWindow& window, const frames::FrameStore& store)
    : window_(window), store_(store) {}

bool CaptureCycle::wantsStep() const {
    return !stepRunning() && window_.cycleTicked() && store_.count() > 0 && window_.cycleMayStep();
}

void CaptureCycle::onTick() {
    if (wantsStep()) {
        step();
    }
}

void CaptureCycle::step() {
    stage_ = Stage::Viewing;
    // A button that throws ends the step here; one that tells its end later carries it on.
    try {
        window_.viewFrame([this] {
            window_.clearFrame();
            stage_ = Stage::Capturing;
            window_.captureFrame([this](bool ok) { captured(ok); });
        });
    } catch (...) {
        end();
        throw;
    }
}

void CaptureCycle::captured(bool ok) {
    if (!ok) {
        // The operator has been told; with the buffer cleared the cycle stops here.
        end();
        return;
    }
    stage_ = Stage::Compressing;
    window_.after(kCaptureToRead, [this] {
        stage_ = Stage::Reading;
        window_.readFrame([this] { end(); });
    });
}

void CaptureCycle::end() {
    stage_ = Stage::Idle;
}

}  // namespace ui
