#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "support/fakes.h"
#include "ui/capture_cycle.h"

using ::testing::ElementsAre;
using ui::CaptureCycle;

namespace {

// The window's buttons as a log of what the cycle pressed; each can be given something to do.
// Each tells its end at once, and the waits are the fake clock's.
class FakeWindow final : public ui::CycleWindow {
  public:
    FakeWindow(frames::FrameStore& store, testing_support::FakeClock& clock)
        : store_(store), clock_(clock) {}
    bool cycleTicked() const override { return ticked; }
    bool cycleMayStep() const override { return !linkBusy; }
    void viewFrame(Then then) override {
        calls.push_back("view " + std::to_string(store_.count()));
        if (duringView) {
            duringView();
        }
        then();
    }
    void clearFrame() override {
        store_.clear();
        calls.push_back("clear");
    }
    void captureFrame(std::function<void(bool)> then) override {
        calls.push_back("capture");
        then(!captureFails);
    }
    void readFrame(Then then) override {
        calls.push_back("read");
        store_.storeAll(nextFrame);
        if (failRead) {
            throw std::runtime_error("link lost");
        }
        then();
    }
    void after(protocol::Clock::Duration wait, Then then) override {
        clock_.waitYielding(wait);
        then();
    }

    bool ticked = true;
    bool failRead = false;
    bool linkBusy = false;
    bool captureFails = false;
    std::vector<std::uint8_t> nextFrame{1, 2, 3};
    std::function<void()> duringView;
    std::vector<std::string> calls;

  private:
    frames::FrameStore& store_;
    testing_support::FakeClock& clock_;
};

class Cycle : public ::testing::Test {
  protected:
    Cycle() {
        clock.duringWait = [this] { window.calls.push_back("wait"); };
    }
    frames::FrameStore store;
    testing_support::FakeClock clock;
    FakeWindow window{store, clock};
    CaptureCycle cycle{window, store};
};

}  // namespace

TEST_F(Cycle, NoStepWithAnEmptyBufferOrWithoutTheTick) {
    for (int tick = 0; tick < 5; ++tick) {
        cycle.onTick();
    }
    EXPECT_TRUE(window.calls.empty());
    store.store(9);
    window.ticked = false;
    cycle.onTick();
    EXPECT_TRUE(window.calls.empty());
}

TEST_F(Cycle, StepViewsTheHeldFrameFirstThenCapturesWaitsAndReads) {
    store.storeAll(std::vector<std::uint8_t>(10, 7));
    cycle.onTick();
    EXPECT_THAT(window.calls, ElementsAre("view 10", "clear", "capture", "wait", "read"));
    EXPECT_FALSE(cycle.stepRunning());
    EXPECT_EQ(store.count(), 3u);  // the new frame, for the next step to show
    EXPECT_GE(clock.now() - protocol::Clock::TimePoint{}, CaptureCycle::kCaptureToRead);

    window.calls.clear();
    cycle.onTick();
    EXPECT_EQ(window.calls[0], "view 3");
}

TEST_F(Cycle, NoStepInsideARunningStep) {
    store.store(1);
    int nestedTicks = 0;
    window.duringView = [&] {
        // The operator's manual read switched the timer on: ticks run inside the step.
        ++nestedTicks;
        cycle.onTick();
    };
    cycle.onTick();
    EXPECT_EQ(nestedTicks, 1);
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "capture"), 1);
    EXPECT_FALSE(cycle.stepRunning());
}

TEST_F(Cycle, AStepEndsWhateverTheButtonsDid) {
    store.store(1);
    window.failRead = true;
    EXPECT_THROW(cycle.onTick(), std::runtime_error);
    EXPECT_FALSE(cycle.stepRunning());
    window.failRead = false;
    window.calls.clear();
    cycle.onTick();  // and the cycle goes on
    EXPECT_EQ(window.calls.back(), "read");
    EXPECT_FALSE(cycle.stepRunning());
}

TEST_F(Cycle, UntickingDuringAStepStopsAtTheNextTest) {
    store.store(1);
    window.duringView = [&] { window.ticked = false; };
    cycle.onTick();
    EXPECT_EQ(window.calls.back(), "read");  // the running step completes
    window.calls.clear();
    cycle.onTick();
    EXPECT_TRUE(window.calls.empty());
}

TEST_F(Cycle, NoStepWhileTheLinkIsBusyAndNoReadAfterAFailedCapture) {
    store.store(1);
    window.linkBusy = true;  // a reset's wait lets ticks in
    cycle.onTick();
    EXPECT_TRUE(window.calls.empty());

    window.linkBusy = false;
    window.captureFails = true;
    cycle.onTick();
    EXPECT_THAT(window.calls, ElementsAre("view 1", "clear", "capture"));
    EXPECT_FALSE(cycle.stepRunning());
    EXPECT_EQ(store.count(), 0u);  // so the cycle stops until a frame is read by hand
}
