#include "serial/reception.h"

namespace serial {

Reception::Batch Reception::poll() {
    const std::vector<std::uint8_t> taken = link_.takeArrived();
    Batch batch;
    if (!frames_.full()) {
        overflowing_ = false;  // cleared since: the next overflow is a new one
    }
    if (taken.empty()) {
        return batch;
    }
    batch.stored = frames_.storeAll(taken);
    batch.dropped = taken.size() - batch.stored;
    if (batch.dropped > 0 && !overflowing_) {
        overflowing_ = true;
        batch.overflowStarted = true;
    }
    return batch;
}

}  // namespace serial
