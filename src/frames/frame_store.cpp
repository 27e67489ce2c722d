#include "frames/frame_store.h"

#include <algorithm>

namespace frames {

FrameStore::FrameStore() : buffer_(std::make_unique<std::array<std::uint8_t, kCapacity>>()) {
    buffer_->fill(0);
}

bool FrameStore::store(std::uint8_t byte) {
    const std::uint32_t at = count_.load(std::memory_order_relaxed);
    if (at >= kCapacity) {
        return false;
    }
    (*buffer_)[at] = byte;
    count_.store(at + 1, std::memory_order_release);
    return true;
}

std::size_t FrameStore::storeAll(std::span<const std::uint8_t> bytes) {
    const std::uint32_t at = count_.load(std::memory_order_relaxed);
    const std::size_t taken = std::min<std::size_t>(kCapacity - at, bytes.size());
    std::copy_n(bytes.begin(), taken, buffer_->begin() + at);
    count_.store(at + static_cast<std::uint32_t>(taken), std::memory_order_release);
    return taken;
}

void FrameStore::clear() {
    count_.store(0, std::memory_order_release);
    buffer_->fill(0);
}

void FrameStore::withdrawTo(std::uint32_t count) {
    // The count goes back first, so a reader never takes a byte that is being zeroed.
    const std::uint32_t from = count_.load(std::memory_order_relaxed);
    if (from <= count) {
        return;
    }
    count_.store(count, std::memory_order_release);
    std::fill(buffer_->begin() + count, buffer_->begin() + from, std::uint8_t{0});
}

}  // namespace frames
