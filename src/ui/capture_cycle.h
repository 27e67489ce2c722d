// The capture cycle: with "Цикл" ticked and a frame in the buffer, one step shows that frame,
// clears the buffer, makes the module capture, waits a second and has the module send the new
// frame — by calling the window's own buttons. A small state machine: each stage begins when the
// one before it has told its end, so no stage waits inside a handler; the next step starts at a
// later timer tick.
#pragma once

#include <chrono>
#include <functional>

#include "frames/frame_store.h"
#include "protocol/clock.h"
#include "session/module_session.h"

namespace ui {

// The window's side of the cycle: its four buttons, its "Цикл" box and its waits.
// Each button tells its end through `then`, at once or once its operation has ended.
class CycleWindow {
  public:
    using Then = std::function<void()>;
    virtual ~CycleWindow() = default;
    virtual bool cycleTicked() const = 0;
    // False while an exchange with the module runs: a step must not put its commands inside it.
    virtual bool cycleMayStep() const = 0;
    virtual void viewFrame(Then then) = 0;  // "Просмотреть кадр"
    virtual void clearFrame() = 0;          // "Очистить буфер"
    // "Сформировать кадр"; told false when the link failed, and the step reads nothing after it.
    virtual void captureFrame(std::function<void(bool captured)> then) = 0;
    virtual void readFrame(Then then) = 0;  // "Считать кадр"
    // `then` after `wait`, from the window's loop; settings may change meanwhile.
    virtual void after(protocol::Clock::Duration wait, Then then) = 0;
};

class CaptureCycle {
  public:
    CaptureCycle(CycleWindow& window, const frames::FrameStore& store);

    // The test at the end of a timer tick: "Цикл" ticked, the buffer not empty, no exchange with
    // the module under way, and no step already running (a step inside a step would clear the
    // frame the outer one is reading).
    bool wantsStep() const;

    // Runs one step when the test passes; the step has ended when its last stage has told its
    // end, or a button failed.
    void onTick();

    bool stepRunning() const { return stage_ != Stage::Idle; }

    // The module's time to compress the frame it captured.
    static constexpr std::chrono::seconds kCaptureToRead = session::ModuleSession::kCompressTime;

  private:
    enum class Stage { Idle, Viewing, Capturing, Compressing, Reading };
    void step();
    void captured(bool ok);
    void end();

    CycleWindow& window_;
    const frames::FrameStore& store_;
    Stage stage_ = Stage::Idle;
};

}  // namespace ui
