#include "frames/frame_store.h"

#include <algorithm>

namespace frames {

FrameStore::FrameStore() : buffer_(std::make_unique<std::array<std::uint8_t, kCapacity>>()) {
    buffer_->fill(0);
}

bool FrameStore::store(std::uint8_t byte) {
    if (full()) {
        return false;
    }
    (*buffer_)[count_] = byte;
    ++count_;
    return true;
}

std::size_t FrameStore::storeAll(std::span<const std::uint8_t> bytes) {
    const std::size_t room = kCapacity - count_;
    const std::size_t taken = std::min(room, bytes.size());
    std::copy_n(bytes.begin(), taken, buffer_->begin() + count_);
    count_ += static_cast<std::uint32_t>(taken);
    return taken;
}

void FrameStore::clear() {
    count_ = 0;
    buffer_->fill(0);
}

void FrameStore::withdrawTo(std::uint32_t count) {
    while (count_ > count) {
        (*buffer_)[--count_] = 0;
    }
}

}  // namespace frames
