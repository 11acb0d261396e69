#pragma once

#include <array>
#include <atomic>
#include <cstddef>

#include "audio/WaveDevice.h"

namespace brivanta::audio {

// A fixed-size, lock-free queue of buffer pointers from one producer thread
// (the owner, handing buffers over) to one consumer thread (the audio
// callback, working them off in order). No allocation after construction.
// The roles may move to other threads only across a synchronisation point
// (for example a stream that has been stopped and joined).
class WaveBufferRing {
  public:
    static constexpr size_t kCapacity = 8192;

    // Producer: false when the ring is full.
    bool Push(WaveBuffer* buffer) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) >= kCapacity) {
            return false;
        }
        slots_[tail % kCapacity] = buffer;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer: the oldest buffer, or nullptr when empty.
    WaveBuffer* Front() const {
        const size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) {
            return nullptr;
        }
        return slots_[head % kCapacity];
    }
    // Consumer: drops the oldest buffer; only after Front returned one.
    void Pop() {
        head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

  private:
    std::array<WaveBuffer*, kCapacity> slots_{};
    std::atomic<size_t> head_{0};  // written by the consumer only
    std::atomic<size_t> tail_{0};  // written by the producer only
};

}  // namespace brivanta::audio
