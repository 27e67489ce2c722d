#include "ui/capture_cycle.h"

namespace ui {

namespace {

// Leaves the step marked as running and the timer off until it goes out of scope, on every
// path out of the step, exceptions included.
class StepGuard {
  public:
    StepGuard(CycleWindow& window, bool& running) : window_(window), running_(running) {
        running_ = true;
        window_.setPollingEnabled(false);
    }
    ~StepGuard() {
        window_.setPollingEnabled(true);
        running_ = false;
    }
    StepGuard(const StepGuard&) = delete;
    StepGuard& operator=(const StepGuard&) = delete;

  private:
    CycleWindow& window_;
    bool& running_;
};

}  // namespace

CaptureCycle::CaptureCycle(CycleWindow& window, const frames::FrameStore& store,
                           protocol::Clock& clock)
    : window_(window), store_(store), clock_(clock) {}

bool CaptureCycle::wantsStep() const {
    return !stepRunning_ && window_.cycleTicked() && store_.count() > 0 && window_.cycleMayStep();
}

void CaptureCycle::onTick() {
    if (wantsStep()) {
        step();
    }
}

void CaptureCycle::step() {
    StepGuard guard(window_, stepRunning_);
    window_.viewFrame();
    window_.clearFrame();
    if (!window_.captureFrame()) {
        // The operator has been told; with the buffer cleared the cycle stops here.
        return;
    }
    clock_.waitYielding(kCaptureToRead);
    window_.readFrame();
}

}  // namespace ui
