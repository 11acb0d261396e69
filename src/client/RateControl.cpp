#include "client/RateControl.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace brivanta::client {

int BufferTenths(double seconds) {
    return static_cast<int>(std::trunc(seconds * 10.0 + (seconds >= 0 ? 1e-6 : -1e-6)));
}

TBufferLevels BufferToByte(int tenths) {
    const double b = std::max(tenths, 1);
    TBufferLevels levels;
    levels.Target = (b - 0.4) / 10.0;
    levels.Low = levels.Target;
    levels.High = (b + 0.1) / 10.0;
    levels.Overflow = 3.0 * levels.Target;
    return levels;
}

void StepCorrection(TRateState& state, double buffered, int64_t dtMs, const TBufferLevels& levels) {
    const double target = levels.Target;
    const double dt = static_cast<double>(dtMs) / 1000.0;
    if (buffered >= target && buffered < levels.High) {
        state = TRateState{};
        return;
    }
    if (buffered >= levels.High) {
        state.CorrectionAcc += (buffered - target) * dt;
        const double step = 1.0 - state.Correction;
        if (state.CorrectionAcc > 5.0 * target * step * step) {
            state.Correction = std::max(state.Correction - 1, -kMaxCorrection);
            state.CorrectionAcc = 0;
        }
    }
    if (buffered <= levels.Low) {
        state.CorrectionAcc += (target - buffered) * dt;
        const double step = state.Correction + 1.0;
        if (state.CorrectionAcc > 5.0 * target * step * step) {
            state.Correction = std::min(state.Correction + 1, kMaxCorrection);
            state.CorrectionAcc = 0;
        }
        return;
    }
    // Above the band: a stretch is taken back one step per feed.
    if (state.CorrectionAcc > 0 && state.Correction > 1) {
        state.CorrectionAcc = 0;
        state.Correction -= 1;
    }
}

int32_t ChunkLength(int32_t remaining) {
    return remaining < 8192 ? remaining : 4096;
}

int32_t CorrectedLength(int32_t chunkLength, int32_t correction, int channels, int bitsPerSample) {
    return chunkLength + correction * ((channels * bitsPerSample) / 4);
}

namespace {

bool Combinize(uint8_t* out, const uint8_t* in, int32_t inSize, int32_t outSize,
               size_t frameBytes) {
    const int64_t inFrames = inSize / static_cast<int64_t>(frameBytes);
    const int64_t outFrames = outSize / static_cast<int64_t>(frameBytes);
    if (inFrames <= 0 || outFrames <= 0) {
        return false;
    }
    const double ratio = static_cast<double>(inSize) / static_cast<double>(outSize);
    double acc = 0;
    int64_t j = 0;
    for (int64_t i = 0; i < outFrames; ++i) {
        // The rounding of the accumulator may not lead past the last frame.
        const int64_t source = std::min(j, inFrames - 1);
        std::memcpy(out + i * frameBytes, in + source * frameBytes, frameBytes);
        acc += ratio;
        while (acc >= 1.0) {
            ++j;
            acc -= 1.0;
        }
    }
    return true;
}

template <typename T>
void PutLittle(std::vector<uint8_t>& out, T value) {
    uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) {
        std::reverse(std::begin(bytes), std::end(bytes));
    }
    out.insert(out.end(), std::begin(bytes), std::end(bytes));
}

}  // namespace

bool BufferCombinize16(uint8_t* out, const uint8_t* in, int32_t inSize, int32_t outSize,
                       int channels) {
    return channels > 0 && Combinize(out, in, inSize, outSize, 2 * static_cast<size_t>(channels));
}

bool BufferCombinize8(uint8_t* out, const uint8_t* in, int32_t inSize, int32_t outSize,
                      int channels) {
    return channels > 0 && Combinize(out, in, inSize, outSize, static_cast<size_t>(channels));
}

std::vector<uint8_t> BuildAudioTap(int32_t samplesPerSec, uint8_t channels, uint8_t bitsPerSample,
                                   double leftDb, double rightDb, const uint8_t* data,
                                   int32_t size) {
    std::vector<uint8_t> block;
    block.reserve(kAudioTapHeaderSize + static_cast<size_t>(std::max(size, 0)));
    PutLittle(block, std::max(samplesPerSec, 0));
    block.push_back(channels);
    block.push_back(bitsPerSample);
    PutLittle(block, leftDb);
    PutLittle(block, rightDb);
    if (data != nullptr && size > 0) {
        block.insert(block.end(), data, data + size);
    }
    return block;
}

}  // namespace brivanta::client
