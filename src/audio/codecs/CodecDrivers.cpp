#include "audio/codecs/CodecDrivers.h"

#include <algorithm>
#include <array>

namespace brivanta::audio::codecs {
namespace {

using common::WaveFormatEx;

constexpr uint16_t kMaxChannels = 2;
constexpr uint32_t kPcmPacketFrames = 1024;  // sample frames per decoder packet of PCM and G.711

// The MPEG bit rates in kbit/s; a format's index is its position here, so the
// index of a bit rate does not change with the sample rate.
constexpr std::array<int, 19> kMpegKbits = {8,   16,  24,  32,  40,  48,  56,  64,  80, 96,
                                            112, 128, 144, 160, 192, 224, 256, 320, 384};

enum class MpegVersion { Mpeg1, Mpeg2, Mpeg25, None };

MpegVersion VersionOf(uint32_t rate) {
    switch (rate) {
        case 32000:
        case 44100:
        case 48000:
            return MpegVersion::Mpeg1;
        case 16000:
        case 22050:
        case 24000:
            return MpegVersion::Mpeg2;
        case 8000:
        case 11025:
        case 12000:
            return MpegVersion::Mpeg25;
        default:
            return MpegVersion::None;
    }
}

WaveFormatEx CodecFormat(uint16_t tag, uint32_t rate, uint16_t channels, uint32_t avgBytes,
                         uint16_t blockAlign, uint16_t bits, uint16_t extraSize = 0) {
    return WaveFormatEx{tag, channels, rate, avgBytes, blockAlign, bits, extraSize};
}

bool ChannelsSupported(uint16_t channels) {
    return channels >= 1 && channels <= kMaxChannels;
}

std::vector<DriverFormat> PcmFormats(uint32_t rate, uint16_t channels) {
    if (!ChannelsSupported(channels)) {
        return {};
    }
    std::vector<DriverFormat> formats;
    const struct {
        uint16_t bits;
        const char* codec;
    } variants[] = {{16, "pcm_s16le"}, {8, "pcm_u8"}};
    for (uint32_t index = 0; index < std::size(variants); ++index) {
        const auto& variant = variants[index];
        const WaveFormatEx format = common::MakePcmFormat(rate, channels, variant.bits);
        DriverFormat item;
        item.index = index;
        item.name = FormatName(int64_t{format.nAvgBytesPerSec} * 8, rate, channels) + ", " +
                    std::to_string(variant.bits) + " bit";
        item.format = format;
        item.setup = {variant.codec,
                      variant.codec,
                      Framing::WholeBlocks,
                      0,
                      format.nBlockAlign,
                      kPcmPacketFrames,
                      0,
                      {}};
        formats.push_back(std::move(item));
    }
    return formats;
}

std::vector<DriverFormat> G711Formats(uint32_t rate, uint16_t channels) {
    if (!ChannelsSupported(channels)) {
        return {};
    }
    std::vector<DriverFormat> formats;
    const struct {
        uint16_t tag;
        const char* codec;
        const char* law;
    } variants[] = {{kTagALaw, "pcm_alaw", "A-law"}, {kTagMuLaw, "pcm_mulaw", "mu-law"}};
    for (const auto& variant : variants) {
        DriverFormat item;
        item.index = 0;  // each law is a tag of its own
        item.format = CodecFormat(variant.tag, rate, channels, rate * channels, channels, 8);
        item.name = FormatName(int64_t{rate} * channels * 8, rate, channels) + ", " + variant.law;
        item.setup = {variant.codec,
                      variant.codec,
                      Framing::WholeBlocks,
                      0,
                      channels,
                      kPcmPacketFrames,
                      0,
                      {}};
        formats.push_back(std::move(item));
    }
    return formats;
}

std::vector<DriverFormat> ImaAdpcmFormats(uint32_t rate, uint16_t channels) {
    if (!ChannelsSupported(channels) || rate < 8000 || rate > 96000) {
        return {};
    }
    // The usual block sizes: 256 bytes per channel at 11025 Hz, growing with the rate.
    const uint32_t blockAlign = 256u * channels * std::max(1u, rate / 11025u);
    const uint32_t samplesPerBlock = (blockAlign - 4u * channels) * 8u / (4u * channels) + 1u;
    const auto avgBytes = static_cast<uint32_t>(uint64_t{rate} * blockAlign / samplesPerBlock);
    DriverFormat item;
    item.index = 0;
    item.format = CodecFormat(kTagImaAdpcm, rate, channels, avgBytes,
                              static_cast<uint16_t>(blockAlign), 4, 2);
    item.extra = {static_cast<uint8_t>(samplesPerBlock & 0xFF),
                  static_cast<uint8_t>(samplesPerBlock >> 8)};
    item.name = FormatName(int64_t{avgBytes} * 8, rate, channels);
    item.setup = {"adpcm_ima_wav",
                  "adpcm_ima_wav",
                  Framing::WholeBlocks,
                  0,
                  blockAlign,
                  1,
                  4,
                  {{"block_size", std::to_string(blockAlign)}}};
    return {std::move(item)};
}

// Layer II allows at MPEG-1 rates 32 to 384 kbit/s, but some only in mono
// (32, 48, 56, 80) and some only in stereo (224 and up); at MPEG-2 rates 8 to
// 160 kbit/s in either mode.
bool Layer2Allows(MpegVersion version, int kbits, uint16_t channels) {
    if (version == MpegVersion::Mpeg2) {
        return kbits <= 160;
    }
    if (version != MpegVersion::Mpeg1 || kbits < 32 || kbits == 40 || kbits == 144) {
        return false;
    }
    const bool monoOnly = kbits == 32 || kbits == 48 || kbits == 56 || kbits == 80;
    return channels == 1 ? kbits <= 192 : !monoOnly;
}

bool Layer3Allows(MpegVersion version, int kbits) {
    switch (version) {
        case MpegVersion::Mpeg1:
            return kbits >= 32 && kbits <= 320 && kbits != 144;
        case MpegVersion::Mpeg2:
            return kbits <= 160;
        case MpegVersion::Mpeg25:
            return kbits <= 64;
        default:
            return false;
    }
}

std::vector<DriverFormat> MpegFormats(uint32_t rate, uint16_t channels, uint16_t tag,
                                      const char* encoder, const char* decoder) {
    const MpegVersion version = VersionOf(rate);
    if (!ChannelsSupported(channels)) {
        return {};
    }
    std::vector<DriverFormat> formats;
    for (uint32_t index = 0; index < kMpegKbits.size(); ++index) {
        const int kbits = kMpegKbits[index];
        const bool allowed =
            tag == kTagMpeg ? Layer2Allows(version, kbits, channels) : Layer3Allows(version, kbits);
        if (!allowed) {
            continue;
        }
        const int64_t bitRate = int64_t{kbits} * 1000;
        DriverFormat item;
        item.index = index;
        item.format = CodecFormat(tag, rate, channels, static_cast<uint32_t>(bitRate / 8), 1, 0);
        item.name = FormatName(bitRate, rate, channels);
        item.setup = {encoder, decoder, Framing::Parser, bitRate, 0, 1, 0, {}};
        formats.push_back(std::move(item));
    }
    return formats;
}

std::vector<DriverFormat> Layer2Formats(uint32_t rate, uint16_t channels) {
    return MpegFormats(rate, channels, kTagMpeg, "mp2", "mp2");
}

std::vector<DriverFormat> Layer3Formats(uint32_t rate, uint16_t channels) {
    return MpegFormats(rate, channels, kTagMpegLayer3, "libmp3lame", "mp3float");
}

// libavcodec's Opus decoders always put out 48 kHz, so Opus is offered at
// 48000 Hz only: other rates would need a resampler on the decoding side.
constexpr uint32_t kOpusRate = 48000;
constexpr uint32_t kOpusPacketsPerSecond = 50;  // 20 ms packets
constexpr std::array<int, 10> kOpusKbits = {16, 24, 32, 48, 64, 96, 128, 160, 192, 256};

std::vector<DriverFormat> OpusFormats(uint32_t rate, uint16_t channels) {
    if (rate != kOpusRate || !ChannelsSupported(channels)) {
        return {};
    }
    std::vector<DriverFormat> formats;
    for (uint32_t index = 0; index < kOpusKbits.size(); ++index) {
        const int64_t bitRate = int64_t{kOpusKbits[index]} * 1000;
        // Constant bit rate, plus the two length bytes of every packet.
        const auto avgBytes = static_cast<uint32_t>(bitRate / 8 + 2 * kOpusPacketsPerSecond);
        DriverFormat item;
        item.index = index;
        item.format = CodecFormat(kTagOpus, rate, channels, avgBytes, 1, 0);
        item.name = FormatName(bitRate, rate, channels);
        item.setup = {"libopus",
                      "opus",
                      Framing::LengthPrefix,
                      bitRate,
                      0,
                      1,
                      0,
                      {{"vbr", "off"}, {"frame_duration", "20"}, {"application", "audio"}}};
        formats.push_back(std::move(item));
    }
    return formats;
}

// FLAC frame headers carry rate, channels and sample size themselves, so the
// stream decodes without the stream header that a FLAC file starts with. Frame
// ends cannot be found without parsing ahead (libavcodec's parser holds back
// ten frames), so each frame carries its length like Opus packets. Up to
// 96 kHz a frame stays below the 64 KiB that the length can say.
constexpr uint32_t kFlacMaxRate = 96000;

std::vector<DriverFormat> FlacFormats(uint32_t rate, uint16_t channels) {
    if (!ChannelsSupported(channels) || rate < 1 || rate > kFlacMaxRate) {
        return {};
    }
    const WaveFormatEx pcm = common::MakePcmFormat(rate, channels, 16);
    DriverFormat item;
    item.index = 0;
    item.format = CodecFormat(kTagFlac, rate, channels, pcm.nAvgBytesPerSec, 1, 16);
    item.name =
        "Lossless 16 bit, " + std::to_string(rate) + " Hz, " + (channels == 1 ? "Mono" : "Stereo");
    item.setup = {"flac", "flac", Framing::LengthPrefix, 0, 0, 1, 0, {}};
    return {std::move(item)};
}

}  // namespace

std::string FormatName(int64_t bitRate, uint32_t samplesPerSec, uint16_t channels) {
    return std::to_string(bitRate / 1000) + " kbit/s, " + std::to_string(samplesPerSec) + " Hz, " +
           (channels == 1 ? "Mono" : "Stereo");
}

const std::vector<CodecDriver>& AllDrivers() {
    static const std::vector<CodecDriver> drivers = {
        {"PCM", PcmFormats},
        {"G.711 A-law and mu-law", G711Formats},
        {"IMA ADPCM", ImaAdpcmFormats},
        {"MPEG Layer-2", Layer2Formats},
        {"MPEG Layer-3 (LAME)", Layer3Formats},
        {"Opus", OpusFormats},
        {"FLAC", FlacFormats},
    };
    return drivers;
}

}  // namespace brivanta::audio::codecs
