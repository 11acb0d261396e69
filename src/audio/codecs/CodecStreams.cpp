#include "audio/codecs/CodecStreams.h"

#include <algorithm>
#include <cstring>
#include <limits>

extern "C" {
#include <libavutil/opt.h>
}

namespace brivanta::audio::codecs {
namespace {

using msacm::StreamHeader;

constexpr int kVariableFrameSamples = 1024;  // chunk for codecs without a fixed frame
constexpr size_t kFeedChunk = 4096;          // codec bytes handed on per step
constexpr uint32_t kSizeMargin = 4096;

// Output bound: twice the nominal ratio, plus one second of output and a margin
// for what a flush releases.
uint32_t SizeBound(uint32_t srcBytes, uint32_t srcAvg, uint32_t dstAvg) {
    const uint64_t bound =
        uint64_t{srcBytes} * dstAvg * 2 / std::max(srcAvg, 1u) + dstAvg + kSizeMargin;
    return static_cast<uint32_t>(
        std::min<uint64_t>(bound, std::numeric_limits<uint32_t>::max() / 2));
}

int CheckHeader(const StreamHeader& header) {
    if (header.cbStruct < msacm::kStreamHeaderSize ||
        (header.pbSrc == nullptr && header.cbSrcLength > 0) ||
        (header.pbDst == nullptr && header.cbDstLength > 0)) {
        return msacm::MMSYSERR_INVALPARAM;
    }
    return msacm::MMSYSERR_NOERROR;
}

}  // namespace

void OutputQueue::Append(const uint8_t* data, size_t size) {
    bytes_.insert(bytes_.end(), data, data + size);
}

uint32_t OutputQueue::Deliver(uint8_t* dst, uint32_t room) {
    const auto count = static_cast<uint32_t>(std::min<size_t>(room, Size()));
    if (count > 0) {
        std::memcpy(dst, bytes_.data() + readPos_, count);
        readPos_ += count;
    }
    if (readPos_ == bytes_.size()) {
        Clear();
    }
    return count;
}

void OutputQueue::Clear() {
    bytes_.clear();
    readPos_ = 0;
}

int LibavStream::Size(uint32_t srcBytes, uint32_t& dstBytes) {
    dstBytes = SizeBound(srcBytes, sourceBytesPerSec_, destinationBytesPerSec_);
    return msacm::MMSYSERR_NOERROR;
}

int LibavStream::PrepareHeader(StreamHeader& header) {
    return CheckHeader(header);
}

int LibavStream::UnprepareHeader(StreamHeader& header) {
    return CheckHeader(header);
}

int LibavStream::BeginConvert(StreamHeader& header, uint32_t& written) {
    if (const int invalid = CheckHeader(header); invalid != msacm::MMSYSERR_NOERROR) {
        return invalid;
    }
    header.cbSrcLengthUsed = 0;
    header.cbDstLengthUsed = 0;
    if (!CodecOpen()) {
        if (const int reopened = OpenCodec(); reopened != msacm::MMSYSERR_NOERROR) {
            return reopened;
        }
    }
    written = output_.Deliver(header.pbDst, header.cbDstLength);
    return msacm::MMSYSERR_NOERROR;
}

int LibavStream::EndConvert(StreamHeader& header, uint32_t written, uint32_t used, bool ok) {
    written += output_.Deliver(header.pbDst + written, header.cbDstLength - written);
    header.cbSrcLengthUsed = used;
    header.cbDstLengthUsed = written;
    return ok ? msacm::MMSYSERR_NOERROR : msacm::MMSYSERR_ERROR;
}

EncoderStream::EncoderStream(const CodecSetup& setup, const common::WaveFormatEx& pcm,
                             const common::WaveFormatEx& codec)
    : LibavStream(pcm.nAvgBytesPerSec, codec.nAvgBytesPerSec),
      setup_(setup),
      pcm_(pcm),
      codec_(codec),
      frame_(av_frame_alloc()),
      packet_(av_packet_alloc()) {}

int EncoderStream::Open(const CodecSetup& setup, const common::WaveFormatEx& pcm,
                        const common::WaveFormatEx& codec,
                        std::unique_ptr<msacm::IStream>& stream) {
    std::unique_ptr<EncoderStream> encoder(new EncoderStream(setup, pcm, codec));
    if (!encoder->frame_ || !encoder->packet_) {
        return msacm::MMSYSERR_NOMEM;
    }
    const int result = encoder->OpenCodec();
    if (result == msacm::MMSYSERR_NOERROR) {
        stream = std::move(encoder);
    }
    return result;
}

int EncoderStream::OpenCodec() {
    const AVCodec* codec = avcodec_find_encoder_by_name(setup_.encoderName.c_str());
    if (codec == nullptr) {
        return msacm::ACMERR_NOTPOSSIBLE;
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        return msacm::MMSYSERR_NOMEM;
    }
    context->sample_fmt = PickEncoderSampleFormat(*codec);
    context->sample_rate = static_cast<int>(pcm_.nSamplesPerSec);
    av_channel_layout_default(&context->ch_layout, pcm_.nChannels);
    context->bit_rate = setup_.bitRate;
    context->time_base = AVRational{1, context->sample_rate};
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : setup_.encoderOptions) {
        av_dict_set(&options, key.c_str(), value.c_str(), 0);
    }
    const int opened = avcodec_open2(context.get(), codec, &options);
    av_dict_free(&options);
    if (opened < 0 || context->sample_fmt == AV_SAMPLE_FMT_NONE) {
        return msacm::ACMERR_NOTPOSSIBLE;
    }
    const bool variable =
        (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0 || context->frame_size <= 0;
    frameSamples_ = variable ? kVariableFrameSamples : context->frame_size;
    shortLastFrame_ = variable || (codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
    nextPts_ = 0;
    waiting_.clear();
    context_ = std::move(context);
    return msacm::MMSYSERR_NOERROR;
}

int EncoderStream::Convert(StreamHeader& header, uint32_t flags) {
    uint32_t written = 0;
    if (const int begun = BeginConvert(header, written); begun != msacm::MMSYSERR_NOERROR) {
        return begun;
    }
    const uint32_t frameBytes = pcm_.nBlockAlign;
    const int channels = pcm_.nChannels;
    const uint32_t available = header.cbSrcLength / frameBytes;  // whole sample frames only
    uint32_t used = 0;
    bool ok = true;
    while (ok && used < available && output_.Size() < header.cbDstLength - written) {
        const int have = static_cast<int>(waiting_.size()) / channels;
        const uint32_t take = std::min<uint32_t>(frameSamples_ - have, available - used);
        const size_t at = waiting_.size();
        waiting_.resize(at + size_t{take} * channels);
        std::memcpy(waiting_.data() + at, header.pbSrc + size_t{used} * frameBytes,
                    size_t{take} * frameBytes);
        used += take;
        if (static_cast<int>(waiting_.size()) / channels == frameSamples_) {
            ok = EncodeWaiting();
        }
    }
    if (ok && (flags & msacm::ACM_STREAMCONVERTF_END) != 0 && used == available) {
        ok = Finish();
    }
    return EndConvert(header, written, used * frameBytes, ok);
}

bool EncoderStream::EncodeWaiting() {
    const int channels = pcm_.nChannels;
    int count = static_cast<int>(waiting_.size()) / channels;
    if (count < frameSamples_ && !shortLastFrame_) {
        waiting_.resize(size_t{static_cast<uint32_t>(frameSamples_)} * channels, 0);
        count = frameSamples_;
    }
    av_frame_unref(frame_.get());
    frame_->format = context_->sample_fmt;
    frame_->sample_rate = context_->sample_rate;
    frame_->nb_samples = count;
    if (av_channel_layout_copy(&frame_->ch_layout, &context_->ch_layout) < 0 ||
        av_frame_get_buffer(frame_.get(), 0) < 0) {
        return false;
    }
    WriteSamples(waiting_.data(), count, *frame_);
    frame_->pts = nextPts_;
    nextPts_ += count;
    waiting_.clear();
    return SendFrame(frame_.get());
}

// Sends one frame (null: end of stream) and collects every packet it releases.
bool EncoderStream::SendFrame(const AVFrame* frame) {
    if (avcodec_send_frame(context_.get(), frame) < 0) {
        return false;
    }
    for (;;) {
        const int received = avcodec_receive_packet(context_.get(), packet_.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
            return true;
        }
        if (received < 0) {
            return false;
        }
        const int size = packet_->size;
        bool fits = true;
        if (setup_.framing == Framing::LengthPrefix) {
            fits = size <= 0xFFFF;
            const uint8_t length[2] = {static_cast<uint8_t>(size & 0xFF),
                                       static_cast<uint8_t>((size >> 8) & 0xFF)};
            if (fits && size > 0) {
                output_.Append(length, sizeof length);
            }
        }
        if (fits) {
            output_.Append(packet_->data, static_cast<size_t>(size));
        }
        av_packet_unref(packet_.get());
        if (!fits) {
            return false;
        }
    }
}

// Encodes what waits, drains the encoder and arranges a fresh one for the next
// call: after its end of stream an encoder takes no more frames.
bool EncoderStream::Finish() {
    bool ok = waiting_.empty() || EncodeWaiting();
    ok = SendFrame(nullptr) && ok;
    context_.reset();
    waiting_.clear();
    return ok;
}

DecoderStream::DecoderStream(const CodecSetup& setup, const common::WaveFormatEx& codec,
                             const common::WaveFormatEx& pcm)
    : LibavStream(codec.nAvgBytesPerSec, pcm.nAvgBytesPerSec),
      setup_(setup),
      codec_(codec),
      pcm_(pcm),
      frame_(av_frame_alloc()),
      packet_(av_packet_alloc()) {}

int DecoderStream::Open(const CodecSetup& setup, const common::WaveFormatEx& codec,
                        const common::WaveFormatEx& pcm, std::unique_ptr<msacm::IStream>& stream) {
    std::unique_ptr<DecoderStream> decoder(new DecoderStream(setup, codec, pcm));
    if (!decoder->frame_ || !decoder->packet_) {
        return msacm::MMSYSERR_NOMEM;
    }
    const int result = decoder->OpenCodec();
    if (result == msacm::MMSYSERR_NOERROR) {
        stream = std::move(decoder);
    }
    return result;
}

int DecoderStream::OpenCodec() {
    const AVCodec* codec = avcodec_find_decoder_by_name(setup_.decoderName.c_str());
    if (codec == nullptr) {
        return msacm::ACMERR_NOTPOSSIBLE;
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        return msacm::MMSYSERR_NOMEM;
    }
    context->sample_rate = static_cast<int>(codec_.nSamplesPerSec);
    av_channel_layout_default(&context->ch_layout, codec_.nChannels);
    context->block_align = codec_.nBlockAlign;
    context->bit_rate = setup_.bitRate;
    context->bits_per_coded_sample = setup_.bitsPerCodedSample;
    if (avcodec_open2(context.get(), codec, nullptr) < 0 ||
        context->sample_rate != static_cast<int>(pcm_.nSamplesPerSec)) {
        return msacm::ACMERR_NOTPOSSIBLE;
    }
    if (setup_.framing == Framing::Parser) {
        parser_.reset(av_parser_init(codec->id));
        if (!parser_) {
            return msacm::ACMERR_NOTPOSSIBLE;
        }
    }
    held_.clear();
    context_ = std::move(context);
    return msacm::MMSYSERR_NOERROR;
}

int DecoderStream::Convert(StreamHeader& header, uint32_t flags) {
    uint32_t written = 0;
    if (const int begun = BeginConvert(header, written); begun != msacm::MMSYSERR_NOERROR) {
        return begun;
    }
    uint32_t used = 0;
    bool ok = true;
    while (used < header.cbSrcLength && output_.Size() < header.cbDstLength - written) {
        const auto chunk =
            static_cast<uint32_t>(std::min<size_t>(kFeedChunk, header.cbSrcLength - used));
        ok = Feed(header.pbSrc + used, chunk) && ok;  // a bad packet does not stop the rest
        used += chunk;
    }
    if ((flags & msacm::ACM_STREAMCONVERTF_END) != 0 && used == header.cbSrcLength) {
        ok = Finish() && ok;
    }
    return EndConvert(header, written, used, ok);
}

bool DecoderStream::Feed(const uint8_t* data, size_t size) {
    if (setup_.framing == Framing::Parser) {
        return FeedParser(data, size);
    }
    held_.insert(held_.end(), data, data + size);
    return FeedHeld();
}

bool DecoderStream::FeedParser(const uint8_t* data, size_t size) {
    // Parsers may read a little past the end of their input.
    padded_.assign(data, data + size);
    padded_.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    const uint8_t* in = padded_.data();
    int left = static_cast<int>(size);
    bool ok = true;
    // An empty input flushes the parser's last packet.
    do {
        uint8_t* out = nullptr;
        int outSize = 0;
        const int eaten = av_parser_parse2(parser_.get(), context_.get(), &out, &outSize, in, left,
                                           AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (eaten < 0) {
            return false;
        }
        in += eaten;
        left -= eaten;
        if (outSize > 0) {
            ok = DecodePacket(out, static_cast<size_t>(outSize)) && ok;
        }
        if (size == 0) {
            break;
        }
    } while (left > 0);
    return ok;
}

// Decodes every whole block or length-prefixed packet that has gathered.
bool DecoderStream::FeedHeld() {
    size_t at = 0;
    bool ok = true;
    if (setup_.framing == Framing::WholeBlocks) {
        const size_t packet = size_t{setup_.blockAlign} * setup_.blocksPerPacket;
        const size_t block = setup_.blockAlign;
        while (held_.size() - at >= block) {
            const size_t take = std::min(packet, (held_.size() - at) / block * block);
            ok = DecodePacket(held_.data() + at, take) && ok;
            at += take;
        }
    } else {
        while (held_.size() - at >= 2) {
            const size_t length = held_[at] | (size_t{held_[at + 1]} << 8);
            if (held_.size() - at - 2 < length) {
                break;
            }
            if (length > 0) {
                ok = DecodePacket(held_.data() + at + 2, length) && ok;
            }
            at += 2 + length;
        }
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(at));
    return ok;
}

bool DecoderStream::DecodePacket(const uint8_t* data, size_t size) {
    if (av_new_packet(packet_.get(), static_cast<int>(size)) < 0) {
        return false;
    }
    std::memcpy(packet_->data, data, size);
    const int sent = avcodec_send_packet(context_.get(), packet_.get());
    av_packet_unref(packet_.get());
    const bool received = ReceiveFrames();
    return sent >= 0 && received;
}

bool DecoderStream::ReceiveFrames() {
    for (;;) {
        const int received = avcodec_receive_frame(context_.get(), frame_.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
            return true;
        }
        if (received < 0) {
            return false;
        }
        const bool matches = frame_->ch_layout.nb_channels == pcm_.nChannels &&
                             frame_->sample_rate == static_cast<int>(pcm_.nSamplesPerSec);
        std::vector<uint8_t> samples;
        const bool converted = matches && AppendSamples(*frame_, samples);
        av_frame_unref(frame_.get());
        if (!converted) {
            return false;
        }
        output_.Append(samples.data(), samples.size());
    }
}

// Releases the parser's and the decoder's last output; a partial block or
// packet at the end is dropped. A fresh decoder takes the next call.
bool DecoderStream::Finish() {
    bool ok = true;
    if (parser_) {
        ok = FeedParser(nullptr, 0);
    }
    ok = avcodec_send_packet(context_.get(), nullptr) >= 0 && ok;
    ok = ReceiveFrames() && ok;
    context_.reset();
    parser_.reset();
    held_.clear();
    return ok;
}

}  // namespace brivanta::audio::codecs
