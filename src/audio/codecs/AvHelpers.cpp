#include "audio/codecs/AvHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace brivanta::audio::codecs {
namespace {

constexpr AVSampleFormat kPreferred[] = {AV_SAMPLE_FMT_S16,  AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_FLT,
                                         AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_S32,  AV_SAMPLE_FMT_S32P,
                                         AV_SAMPLE_FMT_U8};

int16_t FromFloat(double value) {
    const double scaled = std::nearbyint(value * 32768.0);
    return static_cast<int16_t>(std::clamp(scaled, -32768.0, 32767.0));
}

uint8_t ToUnsigned8(int16_t value) {
    const int rounded = (value + 128) >> 8;
    return static_cast<uint8_t>(std::min(rounded, 127) + 128);
}

// Sample i (interleaved index for packed formats) of channel ch as 16 bits.
int16_t ReadSample(const AVFrame& frame, AVSampleFormat format, int ch, int i, int channels) {
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const uint8_t* base = frame.extended_data[planar ? ch : 0];
    const int at = planar ? i : i * channels + ch;
    switch (format) {
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_U8P:
            return static_cast<int16_t>((base[at] - 128) * 256);
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
            return reinterpret_cast<const int16_t*>(base)[at];
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
            return static_cast<int16_t>(reinterpret_cast<const int32_t*>(base)[at] >> 16);
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP:
            return FromFloat(reinterpret_cast<const float*>(base)[at]);
        case AV_SAMPLE_FMT_DBL:
        case AV_SAMPLE_FMT_DBLP:
            return FromFloat(reinterpret_cast<const double*>(base)[at]);
        default:
            return 0;
    }
}

void WriteSample(AVFrame& frame, AVSampleFormat format, int ch, int i, int channels,
                 int16_t value) {
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    uint8_t* base = frame.extended_data[planar ? ch : 0];
    const int at = planar ? i : i * channels + ch;
    switch (format) {
        case AV_SAMPLE_FMT_U8:
            base[at] = ToUnsigned8(value);
            break;
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
            reinterpret_cast<int16_t*>(base)[at] = value;
            break;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
            reinterpret_cast<int32_t*>(base)[at] = int32_t{value} * 65536;
            break;
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP:
            reinterpret_cast<float*>(base)[at] = static_cast<float>(value) / 32768.0f;
            break;
        default:
            break;
    }
}

bool Convertible(AVSampleFormat format) {
    switch (format) {
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_U8P:
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP:
        case AV_SAMPLE_FMT_DBL:
        case AV_SAMPLE_FMT_DBLP:
            return true;
        default:
            return false;
    }
}

}  // namespace

AVSampleFormat PickEncoderSampleFormat(const AVCodec& codec) {
    if (codec.sample_fmts == nullptr) {
        return AV_SAMPLE_FMT_S16;
    }
    for (AVSampleFormat wanted : kPreferred) {
        for (const AVSampleFormat* offered = codec.sample_fmts; *offered != AV_SAMPLE_FMT_NONE;
             ++offered) {
            if (*offered == wanted) {
                return wanted;
            }
        }
    }
    return AV_SAMPLE_FMT_NONE;
}

void WriteSamples(const int16_t* interleaved, int count, AVFrame& frame) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const int channels = frame.ch_layout.nb_channels;
    if (format == AV_SAMPLE_FMT_S16) {
        std::memcpy(frame.data[0], interleaved, sizeof(int16_t) * count * channels);
        return;
    }
    for (int i = 0; i < count; ++i) {
        for (int ch = 0; ch < channels; ++ch) {
            WriteSample(frame, format, ch, i, channels, interleaved[i * channels + ch]);
        }
    }
}

bool AppendSamples(const AVFrame& frame, std::vector<uint8_t>& out) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    if (!Convertible(format)) {
        return false;
    }
    const int channels = frame.ch_layout.nb_channels;
    const size_t start = out.size();
    out.resize(start + sizeof(int16_t) * frame.nb_samples * channels);
    uint8_t* dst = out.data() + start;
    if (format == AV_SAMPLE_FMT_S16) {
        std::memcpy(dst, frame.data[0], out.size() - start);
        return true;
    }
    for (int i = 0; i < frame.nb_samples; ++i) {
        for (int ch = 0; ch < channels; ++ch) {
            const int16_t value = ReadSample(frame, format, ch, i, channels);
            std::memcpy(dst, &value, sizeof value);
            dst += sizeof value;
        }
    }
    return true;
}

}  // namespace brivanta::audio::codecs
