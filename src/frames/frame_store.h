// The one frame held in memory: the module's bytes in arrival order and the count of bytes stored.
// The links append; only a clear (or the window's load, which resets the count) goes back to 0.
// One thread writes (the link's, while an operation runs; the window's otherwise); the window
// may read the count and the bytes below it meanwhile: a byte is in place before the count that
// covers it is.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

namespace frames {

class FrameStore {
  public:
    static constexpr std::size_t kCapacity = 65536;

    FrameStore();

    // Appends one byte at index count(). False, and nothing stored, when the buffer is full.
    bool store(std::uint8_t byte);
    // Appends as many of `bytes` as fit; returns how many were stored.
    std::size_t storeAll(std::span<const std::uint8_t> bytes);

    // Takes back the bytes stored after the first `count`: they turned out not to be the
    // module's. Their elements go back to 0.
    void withdrawTo(std::uint32_t count);

    // Count to 0 and every element to 0.
    void clear();
    // Count to 0 only, as at the window's load; the bytes stay until overwritten.
    void resetCount() { count_.store(0, std::memory_order_release); }

    std::uint32_t count() const { return count_.load(std::memory_order_acquire); }
    bool full() const { return count() >= kCapacity; }
    // Elements 0 .. count()-1: exactly what a frame file holds.
    std::span<const std::uint8_t> frame() const { return {buffer_->data(), count()}; }
    // The whole buffer, for tests that check clearing.
    std::span<const std::uint8_t> wholeBuffer() const { return *buffer_; }

  private:
    std::unique_ptr<std::array<std::uint8_t, kCapacity>> buffer_;
    std::atomic<std::uint32_t> count_ = 0;  // 0 .. 65536: needs more than 16 bits
};

}  // namespace frames
