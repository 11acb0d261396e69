#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "audio/WaveBufferRing.h"
#include "audio/WaveDevice.h"

namespace brivanta::audio {

// The device side of a sound card stream: the owner hands buffers over, the
// audio thread's callback records into them or plays from them and marks
// each one finished when it is done. Lock-free, no allocation in the
// callback.
//
// Threads: Hand, Detach, Attach and Clear on the owner's thread; Record or
// Play on the audio thread; Counters on any thread. After Detach returns,
// no callback touches a buffer until Attach, whatever the host does, so the
// owner may free the buffers it handed over.
class DeviceRingTransfer {
  public:
    // frameBytes: bytes per frame; silence: the byte value of silence.
    DeviceRingTransfer(size_t frameBytes, uint8_t silence)
        : frameBytes_(frameBytes), silence_(silence) {}

    size_t FrameBytes() const { return frameBytes_; }

    // Owner: queues a buffer; false when the queue is full.
    bool Hand(WaveBuffer& buffer) { return ring_.Push(&buffer); }
    // Owner: waits until no callback is working on the buffers and keeps
    // later callbacks off them (they record nothing and play silence).
    void Detach();
    // Owner: lets callbacks work on the buffers again.
    void Attach() { detached_.store(false); }
    // Owner, detached: forgets every queued buffer.
    void Clear();

    // Audio thread: records bytes (whole frames; null source records
    // silence) into the queued buffers, a buffer being finished when no
    // further frame fits. What finds no buffer is lost.
    void Record(const uint8_t* source, size_t bytes);
    // Audio thread: fills target with the queued audio, silence where there
    // is none, or where the next buffer is being rewritten by its owner.
    void Play(uint8_t* target, size_t bytes);

    // Problems reported by the host (an overflow or underflow flag).
    void HostOverrun() { overruns_.fetch_add(1, std::memory_order_relaxed); }
    void HostUnderrun() { underruns_.fetch_add(1, std::memory_order_relaxed); }

    WaveDeviceCounters Counters() const {
        return WaveDeviceCounters{underruns_.load(std::memory_order_relaxed),
                                  overruns_.load(std::memory_order_relaxed)};
    }

  private:
    // Audio thread: announces a callback; false while detached.
    bool Enter();
    void Leave() { inside_.fetch_sub(1); }
    void RecordAttached(const uint8_t* source, size_t bytes);
    void PlayAttached(uint8_t* target, size_t bytes);

    // Notes that the queue ran dry: once per dry spell, after the first buffer.
    void RanDry(std::atomic<uint64_t>& counter);
    void Fed();

    const size_t frameBytes_;
    const uint8_t silence_;
    WaveBufferRing ring_;
    std::atomic<uint64_t> underruns_{0};
    std::atomic<uint64_t> overruns_{0};
    // Sequentially consistent, so that Detach and Enter never both miss the other.
    std::atomic<bool> detached_{false};
    std::atomic<int> inside_{0};  // callbacks at work on the buffers
    // Audio thread only (the owner's while the stream is stopped).
    size_t position_ = 0;  // bytes of the front buffer done
    bool hadBuffer_ = false;
    bool starving_ = false;
};

}  // namespace brivanta::audio
