#include "support/fake_clock.h"

namespace testing_support {

void FakeClock::waitYielding(Duration d) {
    ++yieldingWaits;
    if (duringWait) {
        duringWait();
    }
    now_ += d;
}

void FakeClock::yieldOnce() {
    ++yields;
    if (duringYield) {
        duringYield();
    }
}

}  // namespace testing_support
