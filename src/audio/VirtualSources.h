#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/WavReader.h"

namespace brivanta::audio {

// What a virtual input device records: interleaved 16-bit frames at the
// stream's rate and channel count, produced in time order.
class IVirtualSource {
  public:
    virtual ~IVirtualSource() = default;
    virtual void Render(int16_t* out, size_t frames) = 0;
    // Moves on by frames frames that nobody records (time with no buffer queued).
    virtual void Skip(size_t frames) = 0;
};

// The tone of the "Virtual tone" device: 1 kHz, peak -12 dBFS, every channel.
inline constexpr int kVirtualToneHz = 1000;
inline constexpr double kVirtualToneDbfs = -12.0;

std::unique_ptr<IVirtualSource> MakeToneSource(uint32_t sampleRate, int channels);
std::unique_ptr<IVirtualSource> MakeSilenceSource(int channels);
// Plays the file once, converted to the stream's channels and rate (linear
// interpolation), then silence.
std::unique_ptr<IVirtualSource> MakeWavFileSource(std::unique_ptr<WavReader> reader,
                                                  uint32_t sampleRate, int channels);

}  // namespace brivanta::audio
