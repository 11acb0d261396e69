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
// Threads: Hand on the owner's thread; Record or Play on the audio thread;
// Clear on the owner's thread only while no callback can run (stream
// stopped); Counters on any thread.
class DeviceRingTransfer {
  public:
    // frameBytes: bytes per frame; silence: the byte value of silence.
    DeviceRingTransfer(size_t frameBytes, uint8_t silence)
        : frameBytes_(frameBytes), silence_(silence) {}

    size_t FrameBytes() const { return frameBytes_; }

    // Owner: queues a buffer; false when the queue is full.
    bool Hand(WaveBuffer& buffer) { return ring_.Push(&buffer); }
    // Owner, stream stopped: forgets every queued buffer.
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
    // Notes that the queue ran dry: once per dry spell, after the first buffer.
    void RanDry(std::atomic<uint64_t>& counter);
    void Fed();

    const size_t frameBytes_;
    const uint8_t silence_;
    WaveBufferRing ring_;
    std::atomic<uint64_t> underruns_{0};
    std::atomic<uint64_t> overruns_{0};
    // Audio thread only (the owner's while the stream is stopped).
    size_t position_ = 0;  // bytes of the front buffer done
    bool hadBuffer_ = false;
    bool starving_ = false;
};

}  // namespace brivanta::audio
