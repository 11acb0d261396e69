#pragma once

// Conversion streams on libavcodec: PCM to codec bytes and back. Both keep
// what the destination had no room for and hand it out first on the next call,
// and both consume source only while there is room, so nothing is lost.

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/MSACM.h"
#include "audio/codecs/AvHelpers.h"
#include "audio/codecs/CodecDrivers.h"

namespace brivanta::audio::codecs {

// Bytes converted but not yet delivered.
class OutputQueue {
  public:
    void Append(const uint8_t* data, size_t size);
    size_t Size() const { return bytes_.size() - readPos_; }
    // Moves up to room bytes to dst; returns how many.
    uint32_t Deliver(uint8_t* dst, uint32_t room);
    void Clear();

  private:
    std::vector<uint8_t> bytes_;
    size_t readPos_ = 0;
};

// What the two directions share: header checks, the output size bound, and
// the start and end of every Convert.
class LibavStream : public msacm::IStream {
  public:
    int Size(uint32_t srcBytes, uint32_t& dstBytes) final;
    int PrepareHeader(msacm::StreamHeader& header) final;
    int UnprepareHeader(msacm::StreamHeader& header) final;

  protected:
    // The average byte rates of the two sides, for the size bound.
    LibavStream(uint32_t sourceBytesPerSec, uint32_t destinationBytesPerSec)
        : sourceBytesPerSec_(sourceBytesPerSec), destinationBytesPerSec_(destinationBytesPerSec) {}

    // Checks the header, reopens the codec after a flush and hands out what the
    // last call had no room for; an msacm result code, written = bytes delivered.
    int BeginConvert(msacm::StreamHeader& header, uint32_t& written);
    // Hands out what fits and records the counts; the msacm result of the call.
    int EndConvert(msacm::StreamHeader& header, uint32_t written, uint32_t used, bool ok);

    virtual bool CodecOpen() const = 0;
    virtual int OpenCodec() = 0;

    OutputQueue output_;

  private:
    const uint32_t sourceBytesPerSec_;
    const uint32_t destinationBytesPerSec_;
};

class EncoderStream final : public LibavStream {
  public:
    // Opens an encoder from 16-bit PCM to codec; returns an msacm result code.
    static int Open(const CodecSetup& setup, const common::WaveFormatEx& pcm,
                    const common::WaveFormatEx& codec, std::unique_ptr<msacm::IStream>& stream);

    int Convert(msacm::StreamHeader& header, uint32_t flags) override;

  private:
    EncoderStream(const CodecSetup& setup, const common::WaveFormatEx& pcm,
                  const common::WaveFormatEx& codec);
    bool CodecOpen() const override { return context_ != nullptr; }
    int OpenCodec() override;
    bool EncodeWaiting();
    bool SendFrame(const AVFrame* frame);
    bool Finish();

    const CodecSetup setup_;
    const common::WaveFormatEx pcm_;
    const common::WaveFormatEx codec_;
    CodecContextPtr context_;  // null after a flush: reopened on the next call
    FramePtr frame_;
    PacketPtr packet_;
    int frameSamples_ = 0;
    bool shortLastFrame_ = false;
    int64_t nextPts_ = 0;
    std::vector<int16_t> waiting_;  // interleaved samples short of one codec frame
};

class DecoderStream final : public LibavStream {
  public:
    // Opens a decoder from codec to 16-bit PCM; returns an msacm result code.
    static int Open(const CodecSetup& setup, const common::WaveFormatEx& codec,
                    const common::WaveFormatEx& pcm, std::unique_ptr<msacm::IStream>& stream);

    int Convert(msacm::StreamHeader& header, uint32_t flags) override;

  private:
    DecoderStream(const CodecSetup& setup, const common::WaveFormatEx& codec,
                  const common::WaveFormatEx& pcm);
    bool CodecOpen() const override { return context_ != nullptr; }
    int OpenCodec() override;
    bool Feed(const uint8_t* data, size_t size);
    bool FeedParser(const uint8_t* data, size_t size);
    bool FeedHeld();
    bool DecodePacket(const uint8_t* data, size_t size);
    bool ReceiveFrames();
    bool Finish();

    const CodecSetup setup_;
    const common::WaveFormatEx codec_;
    const common::WaveFormatEx pcm_;
    CodecContextPtr context_;  // null after a flush: reopened on the next call
    ParserPtr parser_;
    FramePtr frame_;
    PacketPtr packet_;
    std::vector<uint8_t> padded_;  // parser input with libavcodec's padding
    std::vector<uint8_t> held_;    // bytes short of one block or length-prefixed packet
};

}  // namespace brivanta::audio::codecs
