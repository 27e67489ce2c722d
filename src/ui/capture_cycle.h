// The capture cycle: with "Цикл" ticked and a frame in the buffer, one step shows that frame,
// clears the buffer, makes the module capture, waits a second and has the module send the new
// frame — by calling the window's own buttons. The next step starts at a later timer tick.
#pragma once

#include <chrono>

#include "frames/frame_store.h"
#include "protocol/clock.h"
#include "session/module_session.h"

namespace ui {

// The window's side of the cycle: its four buttons, its timer and its "Цикл" box.
class CycleWindow {
  public:
    virtual ~CycleWindow() = default;
    virtual bool cycleTicked() const = 0;
    // False while an exchange with the module runs (a reset's wait lets ticks in): a step must
    // not put its commands inside it.
    virtual bool cycleMayStep() const = 0;
    virtual void setPollingEnabled(bool enabled) = 0;
    virtual void viewFrame() = 0;   // "Просмотреть кадр"
    virtual void clearFrame() = 0;  // "Очистить буфер"
    // "Сформировать кадр"; false when the link failed, and the step reads nothing after it.
    virtual bool captureFrame() = 0;
    virtual void readFrame() = 0;  // "Считать кадр"
};

class CaptureCycle {
  public:
    CaptureCycle(CycleWindow& window, const frames::FrameStore& store, protocol::Clock& clock);

    // The test at the end of a timer tick: "Цикл" ticked, the buffer not empty, no exchange with
    // the module under way, and no step already running (an operator action during a step's waits
    // can switch the timer on and let ticks in; a step inside a step would clear the frame the
    // outer one is reading).
    bool wantsStep() const;

    // Runs one step when the test passes. The timer is off for the whole step and on again at
    // its end, whatever the called buttons did to it or failed at.
    void onTick();

    bool stepRunning() const { return stepRunning_; }

    // The module's time to compress the frame it captured.
    static constexpr std::chrono::seconds kCaptureToRead = session::ModuleSession::kCompressTime;

  private:
    void step();

    CycleWindow& window_;
    const frames::FrameStore& store_;
    protocol::Clock& clock_;
    bool stepRunning_ = false;
};

}  // namespace ui
