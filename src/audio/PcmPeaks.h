#pragma once

#include <cstdint>

namespace brivanta::audio {

// Peak magnitudes of one block: 0..32767 for 16-bit audio, 0..127 for 8-bit.
struct PcmPeaks {
    int16_t left = 0;
    int16_t right = 0;
};

// Peaks of a block of interleaved (left, right) PCM: 16-bit signed samples
// (size div 4 pairs) or, when bitsPerSample is 8, unsigned bytes (size div 2
// pairs). A negative sample s counts as -s - 1, so -32768 gives 32767. With
// mono set both peaks become the larger one, since mono samples alternate
// between the two positions.
PcmPeaks MeasurePcmPeaks(const uint8_t* data, int32_t size, int bitsPerSample, bool mono);

// The peak as decibels relative to full scale; a peak of 0 gives -90.3.
double PeakToDb(int peak, int bitsPerSample);

// The level of silence.
inline constexpr double kSilenceDb = -90.3;

// Copies size bytes of PCM from source to target with every sample scaled by
// volume percent, truncating toward zero and clamping: 16-bit signed samples,
// or for 8 bits unsigned bytes taken as b - 128. A trailing odd byte of 16-bit
// audio is copied unchanged. Source and target may be the same.
void ScalePcmVolume(const uint8_t* source, uint8_t* target, int32_t size, int bitsPerSample,
                    int volume);

}  // namespace brivanta::audio
