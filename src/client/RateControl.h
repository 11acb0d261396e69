#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The arithmetic of the client's receive buffer: the four buffer levels, the
// chunking of decoded blocks, the rate-correction step and the frame-wise
// resampler that carries it out. Pure functions, no state of their own.
namespace brivanta::client {

// The levels the queued audio is steered between, in seconds.
struct TBufferLevels {
    double Low = 0;
    double Target = 0;
    double High = 0;
    double Overflow = 0;

    bool operator==(const TBufferLevels&) const = default;
};

// The buffer setting in whole tenths of a second, fraction cut off. A small
// allowance keeps a decimal setting such as 2.3 s (2.2999... in binary) at 23.
int BufferTenths(double seconds);

// The levels for a buffer of b tenths of a second (b below 1 counts as 1).
TBufferLevels BufferToByte(int tenths);

// The rate control's state: the step (-16..16, each worth 2 frames per chunk;
// positive stretches) and the buffer error accumulated since the last change.
struct TRateState {
    int32_t Correction = 0;
    double CorrectionAcc = 0;  // seconds x seconds

    bool operator==(const TRateState&) const = default;
};

inline constexpr int32_t kMaxCorrection = 16;

// One rate-control pass after a feed: `buffered` is the queue in seconds now,
// `dtMs` the time since the previous feed.
void StepCorrection(TRateState& state, double buffered, int64_t dtMs, const TBufferLevels& levels);

// The length of the next chunk of a block with `remaining` bytes left: all of
// it below 8192 bytes, else 4096.
int32_t ChunkLength(int32_t remaining);

// The length a chunk becomes at a correction step: 2 frames per step.
// Negative when the chunk is too short to shrink that far.
int32_t CorrectedLength(int32_t chunkLength, int32_t correction, int channels, int bitsPerSample);

// Nearest-neighbour resampling of one chunk by whole frames (channels samples
// of 16 or 8 bits): outSize / frame bytes output frames, input frames repeated
// or skipped evenly. False when either side holds no whole frame.
bool BufferCombinize16(uint8_t* out, const uint8_t* in, int32_t inSize, int32_t outSize,
                       int channels);
bool BufferCombinize8(uint8_t* out, const uint8_t* in, int32_t inSize, int32_t outSize,
                      int channels);

// The block handed to linked programs for every played block: rate (i32),
// channels (u8), bits (u8), left and right level in dB (f64 each), all
// little-endian, then the PCM as written to the player.
inline constexpr size_t kAudioTapHeaderSize = 22;
std::vector<uint8_t> BuildAudioTap(int32_t samplesPerSec, uint8_t channels, uint8_t bitsPerSample,
                                   double leftDb, double rightDb, const uint8_t* data,
                                   int32_t size);

}  // namespace brivanta::client
