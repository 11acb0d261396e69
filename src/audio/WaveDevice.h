#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/WaveFormat.h"

namespace brivanta::audio {

// Where a log line of a device back end goes; may be empty.
using DeviceLog = std::function<void(const std::string&)>;

enum class WaveDirection { Input, Output };

// Result codes of the back ends' own refusals. 0 is success; PortAudio's own
// error codes (all negative) are passed through unchanged.
namespace wave_error {
inline constexpr int kError = 1;          // unspecified failure
inline constexpr int kBadDeviceId = 2;    // no such device (any more)
inline constexpr int kAllocated = 4;      // the device is in use
inline constexpr int kNoMemory = 7;       // the device's buffer queue is full
inline constexpr int kInvalidParam = 11;  // a call that does not fit the state
inline constexpr int kBadFormat = 32;     // the device cannot do this format
}  // namespace wave_error

// A short English text for a result code, for log lines.
std::string WaveErrorText(int code);

// One device as its back end reports it.
struct WaveDeviceInfo {
    int32_t id = 0;                 // the back end's device number, stable while the process runs
    std::string name;               // exactly as the device reports it
    bool supportsCdFormat = false;  // can run 44.1 kHz, 16-bit, stereo in this direction
};

// One buffer handed to a device. The owner allocates it and keeps it alive
// until the device has marked it finished or has been reset.
//
// Threads: the owner fills `data` (output) before handing the buffer over; the
// device thread fills it (input) and sets `bytesUsed` before MarkFinished. The
// state word is the only field both sides touch while the device holds the
// buffer; its release/acquire order publishes the data.
class WaveBuffer {
  public:
    explicit WaveBuffer(size_t size) : data(size) {}

    std::vector<uint8_t> data;  // zero-filled at allocation; its size is the buffer length
    uint32_t bytesUsed = 0;     // input: bytes recorded; output: bytes to play

    // Owner side.
    bool IsFinished() const { return state_.load(std::memory_order_acquire) == kFinished; }
    // Reserves a queued buffer that the device has not begun, so that the owner
    // may rewrite its data; false when the device has begun or finished it.
    bool TryBeginRewrite() {
        uint32_t expected = kPending;
        return state_.compare_exchange_strong(expected, kRewriting, std::memory_order_acquire);
    }
    void EndRewrite() { state_.store(kPending, std::memory_order_release); }

    // Device side.
    // Claims the buffer before its data is read or written (true again for a
    // buffer already claimed); false while the owner rewrites it (the device
    // then comes back to it later).
    bool TryClaim() {
        uint32_t expected = kPending;
        return state_.compare_exchange_strong(expected, kClaimed, std::memory_order_acquire) ||
               expected == kClaimed;
    }
    void MarkFinished() { state_.store(kFinished, std::memory_order_release); }

  private:
    static constexpr uint32_t kPending = 0;
    static constexpr uint32_t kClaimed = 1;
    static constexpr uint32_t kFinished = 2;
    static constexpr uint32_t kRewriting = 3;
    std::atomic<uint32_t> state_{kPending};
};

// Problems a device has seen since it was opened.
struct WaveDeviceCounters {
    uint64_t underruns = 0;  // output ran out of queued audio while playing
    uint64_t overruns = 0;   // input had no free buffer while recording
};

// An open device. Every operation is called from the owner's thread (one
// thread at a time); a device with its own audio thread touches only the
// buffers it was given. Destroying the stream closes the device; it must not
// outlive its back end.
class IWaveStream {
  public:
    virtual ~IWaveStream() = default;

    // Starts recording or playing; input is dropped and output is silent
    // until buffers are added.
    virtual int Start() = 0;
    // Hands a buffer over, in order: an empty one to fill (input) or a block
    // to play (output). The buffer must stay alive until it is finished or
    // the stream is reset.
    virtual int AddBuffer(WaveBuffer& buffer) = 0;
    // Lets a device without an audio thread of its own catch up with the
    // clock: records or plays what is due and marks those buffers finished.
    // Devices with an audio thread do nothing here. Owners call it at the
    // start of every poll.
    virtual void Pump() = 0;
    // Stops the device and lets go of every buffer it holds, finished or not;
    // afterwards the device touches none of them. Start may follow.
    virtual int Reset() = 0;
    virtual WaveDeviceCounters Counters() const = 0;
};

// A family of devices. Thread-safe: any thread may list, query and open.
class IWaveBackend {
  public:
    virtual ~IWaveBackend() = default;

    virtual std::vector<WaveDeviceInfo> Devices(WaveDirection direction) = 0;
    // 0 when the device can run the format, else a result code.
    virtual int QueryFormat(WaveDirection direction, int32_t deviceId,
                            const common::WaveFormatEx& format) = 0;
    // Opens the device with the format; 0 and the stream, else a result code.
    virtual int Open(WaveDirection direction, int32_t deviceId, const common::WaveFormatEx& format,
                     std::unique_ptr<IWaveStream>& stream) = 0;
};

// The format every listed device must be able to run.
inline constexpr common::WaveFormatEx kCdFormat = common::MakePcmFormat(44100, 2, 16);

}  // namespace brivanta::audio
