#pragma once

// The codec drivers of the codec layer: each is a codec family with a stable
// name whose formats are the variants it can encode at a given PCM rate and
// channel count. A format carries everything needed to run it on libavcodec,
// derived from its 18-byte description alone.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/WaveFormat.h"

namespace brivanta::audio::codecs {

inline constexpr uint16_t kTagPcm = 1;
inline constexpr uint16_t kTagALaw = 6;
inline constexpr uint16_t kTagMuLaw = 7;
inline constexpr uint16_t kTagImaAdpcm = 0x11;
inline constexpr uint16_t kTagMpeg = 0x50;
inline constexpr uint16_t kTagMpegLayer3 = 85;
inline constexpr uint16_t kTagOpus = 0x704F;
inline constexpr uint16_t kTagFlac = 0xF1AC;

// The largest format description of any driver: 18 bytes plus IMA ADPCM's
// two extra bytes (samples per block).
inline constexpr uint32_t kMaxFormatSize = 20;

// How a decoder finds the packets in the codec byte stream.
enum class Framing {
    Parser,        // libavcodec's bit-stream parser of the codec
    WholeBlocks,   // fixed-size blocks of blockAlign bytes
    LengthPrefix,  // each packet preceded by its length, u16 little-endian
};

// How to run one format on libavcodec.
struct CodecSetup {
    std::string encoderName;
    std::string decoderName;
    Framing framing = Framing::Parser;
    int64_t bitRate = 0;           // 0 where the codec has no bit rate to set
    uint32_t blockAlign = 0;       // bytes of one codec block, for WholeBlocks
    uint32_t blocksPerPacket = 1;  // blocks handed to the decoder at once, for WholeBlocks
    int bitsPerCodedSample = 0;    // 0 = the decoder's default
    std::vector<std::pair<std::string, std::string>> encoderOptions;
};

// One format of a driver at one PCM rate and channel count.
struct DriverFormat {
    uint32_t index = 0;  // stable: the same variant has the same index at every rate
    std::string name;
    common::WaveFormatEx format;
    std::vector<uint8_t> extra;  // the codec's extra bytes after the 18-byte description
    CodecSetup setup;
};

struct CodecDriver {
    std::string name;
    // Formats for 16-bit PCM of this rate and channel count, in index order.
    std::vector<DriverFormat> (*formats)(uint32_t samplesPerSec, uint16_t channels);
};

// All drivers, in their fixed order.
const std::vector<CodecDriver>& AllDrivers();

// Format name in the common wording, e.g. "128 kbit/s, 44100 Hz, Stereo".
std::string FormatName(int64_t bitRate, uint32_t samplesPerSec, uint16_t channels);

}  // namespace brivanta::audio::codecs
