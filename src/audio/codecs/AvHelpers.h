#pragma once

// Small owners for libavcodec objects and the sample conversions between the
// converter's 16-bit interleaved PCM and the sample formats codecs use.

#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace brivanta::audio::codecs {

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ParserDeleter {
    void operator()(AVCodecParserContext* parser) const { av_parser_close(parser); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserDeleter>;

// The input sample format to give an encoder: the first it accepts among the
// ones WriteSamples can produce; AV_SAMPLE_FMT_NONE when there is none.
AVSampleFormat PickEncoderSampleFormat(const AVCodec& codec);

// Fills frame (format, channels and nb_samples already set, buffers allocated)
// from count interleaved 16-bit frames.
void WriteSamples(const int16_t* interleaved, int count, AVFrame& frame);

// Appends the frame's samples to out as interleaved 16-bit little-endian PCM.
// False when the frame's sample format is not one this converts.
bool AppendSamples(const AVFrame& frame, std::vector<uint8_t>& out);

}  // namespace brivanta::audio::codecs
