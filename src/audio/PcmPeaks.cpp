#include "audio/PcmPeaks.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace brivanta::audio {
namespace {

int16_t ReadSample16(const uint8_t* at) {
    int16_t sample = 0;
    std::memcpy(&sample, at, sizeof sample);
    return sample;
}

int Magnitude16(int16_t sample) {
    return sample >= 0 ? sample : -sample - 1;
}

int Magnitude8(uint8_t byte) {
    return byte >= 128 ? byte - 128 : 127 - byte;
}

}  // namespace

PcmPeaks MeasurePcmPeaks(const uint8_t* data, int32_t size, int bitsPerSample, bool mono) {
    int left = 0;
    int right = 0;
    if (data != nullptr && size > 0) {
        if (bitsPerSample == 8) {
            for (int32_t i = 0; i + 1 < size; i += 2) {
                left = std::max(left, Magnitude8(data[i]));
                right = std::max(right, Magnitude8(data[i + 1]));
            }
        } else {
            for (int32_t i = 0; i + 3 < size; i += 4) {
                left = std::max(left, Magnitude16(ReadSample16(data + i)));
                right = std::max(right, Magnitude16(ReadSample16(data + i + 2)));
            }
        }
    }
    if (mono) {
        left = right = std::max(left, right);
    }
    return PcmPeaks{static_cast<int16_t>(left), static_cast<int16_t>(right)};
}

double PeakToDb(int peak, int bitsPerSample) {
    if (peak <= 0) {
        return kSilenceDb;
    }
    const double fullScale = bitsPerSample == 8 ? 128.0 : 32768.0;
    return 20.0 * std::log10(peak / fullScale);
}

void ScalePcmVolume(const uint8_t* source, uint8_t* target, int32_t size, int bitsPerSample,
                    int volume) {
    if (source == nullptr || target == nullptr || size <= 0) {
        return;
    }
    if (bitsPerSample == 8) {
        for (int32_t i = 0; i < size; ++i) {
            const int scaled = std::clamp((source[i] - 128) * volume / 100, -128, 127);
            target[i] = static_cast<uint8_t>(scaled + 128);
        }
        return;
    }
    int32_t i = 0;
    for (; i + 1 < size; i += 2) {
        const int scaled = std::clamp(ReadSample16(source + i) * volume / 100, -32768, 32767);
        const auto sample = static_cast<int16_t>(scaled);
        std::memcpy(target + i, &sample, sizeof sample);
    }
    if (i < size) {
        target[i] = source[i];
    }
}

}  // namespace brivanta::audio
