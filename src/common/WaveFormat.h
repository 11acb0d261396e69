#pragma once

#include <cstdint>

namespace brivanta::common {

// The 18-byte wave format description shared by capture, player, codecs and
// the wire: little-endian u16 tag, u16 channels, u32 samples per second, u32
// average bytes per second, u16 block alignment, u16 bits per sample, u16 size
// of the codec-specific bytes that follow (never sent on the wire).
struct WaveFormatEx {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;

    bool operator==(const WaveFormatEx&) const = default;
};

inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr int kWaveFormatExSize = 18;

// A PCM description with block alignment and byte rate derived from the rest.
constexpr WaveFormatEx MakePcmFormat(uint32_t samplesPerSec, uint16_t channels,
                                     uint16_t bitsPerSample) {
    const auto blockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    return WaveFormatEx{
        kWaveFormatPcm, channels, samplesPerSec, samplesPerSec * blockAlign, blockAlign,
        bitsPerSample,  0};
}

}  // namespace brivanta::common
