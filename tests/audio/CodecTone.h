#pragma once

// A test tone and the measurements that judge what a codec made of it.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

namespace brivanta::audio::test {

inline constexpr double kToneHz = 1000.0;
// Left louder than right, so a swap of the channels shows.
inline constexpr double kLeftDb = -6.0;
inline constexpr double kRightDb = -12.0;

inline double DbToAmplitude(double db) {
    return 32767.0 * std::pow(10.0, db / 20.0);
}

// Interleaved 16-bit little-endian PCM of the test tone.
inline std::vector<uint8_t> MakeTone(int rate, int channels, double seconds) {
    const int frames = static_cast<int>(rate * seconds);
    std::vector<uint8_t> bytes(static_cast<size_t>(frames) * channels * 2);
    for (int i = 0; i < frames; ++i) {
        const double phase = 2.0 * std::numbers::pi * kToneHz * i / rate;
        for (int ch = 0; ch < channels; ++ch) {
            const double amplitude = DbToAmplitude(ch == 0 ? kLeftDb : kRightDb);
            const auto value = static_cast<int16_t>(std::lround(amplitude * std::sin(phase + ch)));
            std::memcpy(&bytes[(static_cast<size_t>(i) * channels + ch) * 2], &value, 2);
        }
    }
    return bytes;
}

inline std::vector<double> Channel(const std::vector<uint8_t>& pcm, int channels, int channel) {
    std::vector<double> samples;
    for (size_t at = static_cast<size_t>(channel) * 2; at + 1 < pcm.size(); at += channels * 2) {
        int16_t value;
        std::memcpy(&value, &pcm[at], 2);
        samples.push_back(value);
    }
    return samples;
}

struct ToneMeasure {
    double frequencyHz = 0;
    double levelDb = -200;
    double snrDb = -200;  // the fitted tone against everything else
};

// Measures samples [begin, end): frequency from the span of rising zero
// crossings, level and signal-to-noise ratio from a least-squares fit of a
// 1 kHz sine with offset.
inline ToneMeasure MeasureTone(const std::vector<double>& x, int rate, size_t begin, size_t end) {
    ToneMeasure measure;
    if (end > x.size() || end <= begin + 2) {
        return measure;
    }
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (size_t i = begin + 1; i < end; ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double at = static_cast<double>(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
            if (first < 0) {
                first = at;
            }
            last = at;
            ++crossings;
        }
    }
    if (crossings >= 2) {
        measure.frequencyHz = (crossings - 1) * rate / (last - first);
    }
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0, mean = 0;
    for (size_t i = begin; i < end; ++i) {
        mean += x[i];
    }
    mean /= static_cast<double>(end - begin);
    for (size_t i = begin; i < end; ++i) {
        const double phase = 2.0 * std::numbers::pi * kToneHz * static_cast<double>(i) / rate;
        const double s = std::sin(phase);
        const double c = std::cos(phase);
        ss += s * s;
        cc += c * c;
        sc += s * c;
        xs += (x[i] - mean) * s;
        xc += (x[i] - mean) * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det;
    const double b = (xc * ss - xs * sc) / det;
    double signal = 0;
    double noise = 0;
    for (size_t i = begin; i < end; ++i) {
        const double phase = 2.0 * std::numbers::pi * kToneHz * static_cast<double>(i) / rate;
        const double fit = a * std::sin(phase) + b * std::cos(phase);
        signal += fit * fit;
        noise += (x[i] - mean - fit) * (x[i] - mean - fit);
    }
    const double amplitude = std::sqrt(a * a + b * b);
    measure.levelDb = 20.0 * std::log10(std::max(amplitude, 1e-9) / 32767.0);
    measure.snrDb = 10.0 * std::log10(std::max(signal, 1e-9) / std::max(noise, 1e-9));
    return measure;
}

}  // namespace brivanta::audio::test
