// Encode and decode speed of every codec format as a multiple of real time
// (counter x_realtime: seconds of audio per second of CPU), and the codec's
// delay in milliseconds (counter delay_ms: the lag at which the decoded
// output best matches the input, found by cross-correlation of a chirp).

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "audio/ACM.h"

namespace brivanta::audio {
namespace {

constexpr double kSeconds = 2.0;
constexpr int kMaxLag = 8192;

struct BenchFormat {
    int rate;
    int channels;
    std::string driver;
    uint16_t tag;
    uint32_t index;
    common::WaveFormatEx description;
};

// A chirp from 200 Hz to 5 kHz at -12 dBFS on every channel.
std::vector<uint8_t> MakeChirp(int rate, int channels, double seconds) {
    const int frames = static_cast<int>(rate * seconds);
    std::vector<uint8_t> bytes(static_cast<size_t>(frames) * channels * 2);
    const double sweep = (5000.0 - 200.0) / seconds;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double phase = 2.0 * std::numbers::pi * (200.0 * t + 0.5 * sweep * t * t);
        const auto value = static_cast<int16_t>(std::lround(8192.0 * std::sin(phase)));
        for (int ch = 0; ch < channels; ++ch) {
            std::memcpy(&bytes[(static_cast<size_t>(i) * channels + ch) * 2], &value, 2);
        }
    }
    return bytes;
}

std::vector<uint8_t> Encode(const BenchFormat& format, const std::vector<uint8_t>& pcm) {
    TACM encoder(TACM::kEncode, format.rate, format.channels, 0, true);
    encoder.SetBufferSize(format.rate / 2);
    encoder.SetThreshold(256);
    std::vector<uint8_t> coded;
    encoder.OnHaveData = [&](TACM&, const uint8_t* data, uint32_t size) {
        coded.insert(coded.end(), data, data + size);
    };
    encoder.SelectDriver(format.driver);
    const TACMFormatItem* item = encoder.FormatAt(encoder.FindFormat(format.tag, format.index));
    if (item == nullptr || encoder.Open(*item) != 0) {
        return {};
    }
    const size_t block = static_cast<size_t>(format.rate / 10) * format.channels * 2;
    for (size_t at = 0; at < pcm.size(); at += block) {
        encoder.Convert(pcm.data() + at, std::min(block, pcm.size() - at));
    }
    encoder.Close();
    return coded;
}

std::vector<uint8_t> Decode(const BenchFormat& format, const std::vector<uint8_t>& coded) {
    TACM decoder(TACM::kDecode, format.rate, format.channels, 0, true);
    decoder.SetBufferSize(44100);
    decoder.SetThreshold(512);
    std::vector<uint8_t> pcm;
    decoder.OnHaveData = [&](TACM&, const uint8_t* data, uint32_t size) {
        pcm.insert(pcm.end(), data, data + size);
    };
    const auto candidates = decoder.FindFormats(format.description);
    if (candidates.empty() || decoder.Open(*candidates.front()) != 0) {
        return {};
    }
    const size_t block = 4096;
    for (size_t at = 0; at < coded.size(); at += block) {
        decoder.Convert(coded.data() + at, std::min(block, coded.size() - at));
    }
    decoder.Close();
    return pcm;
}

double LeftSample(const std::vector<uint8_t>& pcm, int channels, size_t i) {
    int16_t value = 0;
    const size_t at = i * channels * 2;
    if (at + 1 < pcm.size()) {
        std::memcpy(&value, &pcm[at], 2);
    }
    return value;
}

double DelayMs(const BenchFormat& format) {
    const auto input = MakeChirp(format.rate, format.channels, 1.0);
    const auto output = Decode(format, Encode(format, input));
    const size_t window = static_cast<size_t>(format.rate) / 2;
    const size_t start = static_cast<size_t>(format.rate) / 8;
    int bestLag = 0;
    double best = -1e300;
    for (int lag = 0; lag < kMaxLag; ++lag) {
        double sum = 0;
        for (size_t i = start; i < start + window; ++i) {
            sum += LeftSample(input, format.channels, i) *
                   LeftSample(output, format.channels, i + lag);
        }
        if (sum > best) {
            best = sum;
            bestLag = lag;
        }
    }
    return 1000.0 * bestLag / format.rate;
}

void EncodeSpeed(benchmark::State& state, const BenchFormat& format) {
    const auto pcm = MakeChirp(format.rate, format.channels, kSeconds);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Encode(format, pcm));
    }
    state.counters["x_realtime"] = benchmark::Counter(
        kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["delay_ms"] = DelayMs(format);
}

void DecodeSpeed(benchmark::State& state, const BenchFormat& format) {
    const auto coded = Encode(format, MakeChirp(format.rate, format.channels, kSeconds));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Decode(format, coded));
    }
    state.counters["x_realtime"] = benchmark::Counter(
        kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Every format at 44100 Hz stereo, and Opus at its 48000 Hz.
void RegisterAll() {
    for (const int rate : {44100, 48000}) {
        TACM catalogue(TACM::kEncode, rate, 2, 0, true);
        for (const auto& driver : catalogue.Drivers()) {
            if ((driver->Name == "Opus") != (rate == 48000)) {
                continue;
            }
            for (const auto& item : driver->Formats) {
                const BenchFormat format{rate,
                                         2,
                                         driver->Name,
                                         item->FormatTag(),
                                         item->FormatIndex,
                                         item->Description()};
                const std::string name = driver->Name + " | " + item->Name;
                benchmark::RegisterBenchmark(("encode " + name).c_str(), EncodeSpeed, format)
                    ->Unit(benchmark::kMillisecond);
                benchmark::RegisterBenchmark(("decode " + name).c_str(), DecodeSpeed, format)
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
}

}  // namespace
}  // namespace brivanta::audio

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    brivanta::audio::RegisterAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
