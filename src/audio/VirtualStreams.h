#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "audio/VirtualSources.h"
#include "audio/WavWriter.h"
#include "audio/WaveDevice.h"
#include "common/Clock.h"

namespace brivanta::audio {

// How many frames a device running at a rate, skewed by some parts per
// million, has handled since it started: derived from the clock each time,
// so it never drifts, whatever the pattern of calls.
class DevicePacer {
  public:
    DevicePacer(common::IClock& clock, uint32_t sampleRate, double skewPpm);

    void Restart() { startMs_ = clock_.NowMs(); }
    int64_t FramesDue() const;

  private:
    common::IClock& clock_;
    const uint32_t sampleRate_;
    const long double skewScale_;  // parts per million of the nominal rate
    int64_t startMs_ = 0;
};

// A virtual input: records its source into the queued buffers as time passes.
// Whole frames only: a buffer is finished when no further frame fits. Time
// with no buffer queued is lost, as on a sound card, and counted as an
// overrun once buffers have been given. Owner's thread only.
class VirtualInputStream final : public IWaveStream {
  public:
    VirtualInputStream(common::IClock& clock, const common::WaveFormatEx& format, double skewPpm,
                       std::unique_ptr<IVirtualSource> source);

    int Start() override;
    int AddBuffer(WaveBuffer& buffer) override;
    void Pump() override { Advance(); }
    int Reset() override;
    WaveDeviceCounters Counters() const override { return counters_; }

  private:
    void Advance();
    void Record(WaveBuffer& buffer, int64_t frames);
    void Drop(int64_t frames);
    void Render(int64_t frames);

    const common::WaveFormatEx format_;
    DevicePacer pacer_;
    std::unique_ptr<IVirtualSource> source_;
    bool started_ = false;
    bool everQueued_ = false;
    bool overrunning_ = false;
    int64_t framesHandled_ = 0;
    size_t fill_ = 0;  // bytes recorded into the front buffer
    std::deque<WaveBuffer*> queue_;
    std::vector<int16_t> scratch_;
    WaveDeviceCounters counters_;
};

// A virtual output: plays the queued buffers in order as time passes, into a
// WAV file or nowhere. Running dry while playing counts as an underrun; new
// audio then starts at once, as on a sound card. Owner's thread only.
class VirtualOutputStream final : public IWaveStream {
  public:
    // writer may be null (discard); inUse, when given, is cleared on close.
    VirtualOutputStream(common::IClock& clock, const common::WaveFormatEx& format, double skewPpm,
                        std::unique_ptr<WavWriter> writer, std::atomic<bool>* inUse, DeviceLog log);
    ~VirtualOutputStream() override;

    int Start() override;
    int AddBuffer(WaveBuffer& buffer) override;
    void Pump() override { Advance(); }
    int Reset() override;
    WaveDeviceCounters Counters() const override { return counters_; }

  private:
    void Advance();
    // Plays up to frames frames of the front buffer; the number played.
    int64_t Play(WaveBuffer& buffer, int64_t frames);
    void Write(const uint8_t* data, size_t bytes);

    const common::WaveFormatEx format_;
    DevicePacer pacer_;
    std::unique_ptr<WavWriter> writer_;
    std::atomic<bool>* inUse_;
    const DeviceLog log_;
    bool started_ = false;
    bool playing_ = false;
    int64_t framesHandled_ = 0;
    size_t position_ = 0;  // bytes of the front buffer played
    std::deque<WaveBuffer*> queue_;
    std::vector<int16_t> scratch_;
    WaveDeviceCounters counters_;
};

}  // namespace brivanta::audio
