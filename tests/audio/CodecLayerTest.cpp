// The libavcodec codec layer below the converter: the --list-codecs lines, the
// framing of length-prefixed formats, and what happens at the edges of a
// stream (small destinations, the flush, bad input, mismatched formats).

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CodecTone.h"
#include "audio/ACM.h"
#include "audio/CodecList.h"
#include "audio/codecs/CodecDrivers.h"

namespace brivanta::audio {
namespace {

using msacm::StreamHeader;

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(CodecList, PrintsDriverTagIndexAndNameInCatalogueOrder) {
    const auto lines = ListCodecs(44100, 2);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "PCM\t1\t0\t1411 kbit/s, 44100 Hz, Stereo, 16 bit");
    EXPECT_TRUE(Contains(lines, "MPEG Layer-3 (LAME)\t85\t11\t128 kbit/s, 44100 Hz, Stereo"));
    EXPECT_TRUE(
        Contains(lines, "G.711 A-law and mu-law\t7\t0\t705 kbit/s, 44100 Hz, Stereo, mu-law"));
    EXPECT_TRUE(Contains(lines, "FLAC\t61868\t0\tLossless 16 bit, 44100 Hz, Stereo"));
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(),
                             [](const std::string& line) { return line.starts_with("Opus"); }));
    const auto at48 = ListCodecs(48000, 1);
    EXPECT_TRUE(Contains(at48, "Opus\t28751\t4\t64 kbit/s, 48000 Hz, Mono"));
    EXPECT_TRUE(ListCodecs(44100, 6).empty());  // only mono and stereo
}

// Opens a stream of the real layer between two descriptions.
std::unique_ptr<msacm::IStream> OpenStream(const common::WaveFormatEx& src,
                                           const common::WaveFormatEx& dst, int* result = nullptr) {
    std::unique_ptr<msacm::IStream> stream;
    const int opened = msacm::CreateCodecLayer()->StreamOpen(stream, {}, msacm::EncodeFormat(src),
                                                             msacm::EncodeFormat(dst), 0);
    if (result != nullptr) {
        *result = opened;
    }
    return stream;
}

// Runs all of input through stream in one call per destination fill, with the
// end flag on the last; returns the output.
std::vector<uint8_t> Drain(msacm::IStream& stream, std::vector<uint8_t> input, uint32_t dstSize,
                           int& failures) {
    std::vector<uint8_t> output;
    std::vector<uint8_t> dst(dstSize);
    for (int guard = 0; guard < 100000; ++guard) {
        StreamHeader header{msacm::kStreamHeaderSize,
                            0,
                            input.data(),
                            static_cast<uint32_t>(input.size()),
                            0,
                            dst.data(),
                            dstSize,
                            0};
        if (stream.Convert(header, msacm::ACM_STREAMCONVERTF_BLOCKALIGN |
                                       msacm::ACM_STREAMCONVERTF_END) != 0) {
            ++failures;
        }
        output.insert(output.end(), dst.begin(), dst.begin() + header.cbDstLengthUsed);
        input.erase(input.begin(), input.begin() + header.cbSrcLengthUsed);
        if (input.empty() && header.cbDstLengthUsed < dstSize) {
            break;
        }
    }
    return output;
}

const common::WaveFormatEx kPcm = common::MakePcmFormat(44100, 2, 16);
const common::WaveFormatEx kMp3 = {85, 2, 44100, 16000, 1, 0, 0};

TEST(CodecLayer, ASmallDestinationLosesNothing) {
    const auto pcm = test::MakeTone(44100, 2, 0.5);
    int failures = 0;
    auto encoder = OpenStream(kPcm, kMp3);
    ASSERT_TRUE(encoder);
    const auto coded = Drain(*encoder, pcm, 1 << 20, failures);
    auto roomy = OpenStream(kMp3, kPcm);
    auto tight = OpenStream(kMp3, kPcm);
    ASSERT_TRUE(roomy && tight);
    const auto whole = Drain(*roomy, coded, 1 << 22, failures);
    EXPECT_EQ(Drain(*tight, coded, 1000, failures), whole);
    EXPECT_EQ(failures, 0);
    EXPECT_GE(whole.size(), pcm.size());
}

TEST(CodecLayer, TheEncoderReleasesItsHeldBackFramesOnClose) {
    TACM encoder(TACM::kEncode, 44100, 2, 0, true);
    ASSERT_TRUE(encoder.SelectDriver("MPEG Layer-3 (LAME)"));
    ASSERT_EQ(encoder.Open(*encoder.FormatAt(encoder.FindFormat(85, 11))), 0);
    size_t coded = 0;
    encoder.OnHaveData = [&](TACM&, const uint8_t*, uint32_t size) { coded += size; };
    const auto pcm = test::MakeTone(44100, 2, 0.5);
    encoder.Convert(pcm.data(), pcm.size());
    const size_t beforeClose = coded;
    encoder.Close();
    EXPECT_GT(coded, beforeClose);
    // 0.5 s at 128 kbit/s is 8000 bytes; all of it arrives once the tail is out.
    EXPECT_GE(coded, 8000u);
}

TEST(CodecLayer, LengthPrefixedFormatsDeliverWholePacketsPerBlock) {
    for (const char* driver : {"Opus", "FLAC"}) {
        TACM encoder(TACM::kEncode, 48000, 2, 0, true);
        ASSERT_TRUE(encoder.SelectDriver(driver));
        ASSERT_EQ(encoder.Open(*encoder.FormatAt(0)), 0);
        int blocks = 0;
        encoder.OnHaveData = [&](TACM&, const uint8_t* data, uint32_t size) {
            ++blocks;
            uint32_t at = 0;
            while (at + 2 <= size) {
                at += 2 + (data[at] | (data[at + 1] << 8));
            }
            EXPECT_EQ(at, size) << driver << ": a block ends inside a packet";
        };
        const auto pcm = test::MakeTone(48000, 2, 1.0);
        for (size_t at = 0; at < pcm.size(); at += 19200) {
            encoder.Convert(pcm.data() + at, std::min<size_t>(19200, pcm.size() - at));
        }
        encoder.Close();
        EXPECT_GT(blocks, 5) << driver;
    }
}

TEST(CodecLayer, GarbageInputIsReportedAndConsumed) {
    TACM decoder(TACM::kDecode, 48000, 2, 0, true);
    decoder.SetBufferSize(44100);
    decoder.SetThreshold(512);
    ASSERT_TRUE(decoder.SelectDriver("FLAC"));
    ASSERT_EQ(decoder.Open(*decoder.FormatAt(0)), 0);
    std::vector<std::string> errors;
    decoder.OnError = [&](TACM&, const std::string& text) { errors.push_back(text); };
    std::vector<uint8_t> garbage;
    while (garbage.size() < 2000) {  // length-prefixed packets that are no FLAC frames
        garbage.insert(garbage.end(), {20, 0});
        garbage.insert(garbage.end(), 20, 0x55);
    }
    decoder.Convert(garbage.data(), garbage.size());
    ASSERT_FALSE(errors.empty());
    EXPECT_TRUE(errors.front().starts_with("Error 512.hdr1: "));
    EXPECT_LT(decoder.SrcFill(), 512);
    decoder.Close();
}

TEST(CodecLayer, RefusesConversionsItCannotDo) {
    const common::WaveFormatEx mp3At22 = {85, 2, 22050, 16000, 1, 0, 0};
    const common::WaveFormatEx unknown = {0x1234, 2, 44100, 16000, 1, 0, 0};
    const common::WaveFormatEx oddRate = {85, 2, 44100, 16001, 1, 0, 0};
    const struct {
        common::WaveFormatEx src;
        common::WaveFormatEx dst;
    } cases[] = {{kPcm, mp3At22},
                 {kPcm, unknown},
                 {kPcm, oddRate},
                 {kMp3, kMp3},
                 {common::MakePcmFormat(44100, 2, 8), kMp3}};
    for (const auto& c : cases) {
        int result = 0;
        EXPECT_FALSE(OpenStream(c.src, c.dst, &result));
        EXPECT_EQ(result, msacm::ACMERR_NOTPOSSIBLE);
    }
}

TEST(CodecLayer, EveryFormatFitsTheLargestFormatSize) {
    for (const auto& driver : codecs::AllDrivers()) {
        for (uint32_t rate : {8000u, 11025u, 22050u, 44100u, 48000u, 96000u}) {
            for (const auto& format : driver.formats(rate, 2)) {
                EXPECT_LE(18 + format.extra.size(), codecs::kMaxFormatSize);
                EXPECT_EQ(format.format.cbSize, format.extra.size());
            }
        }
    }
}

}  // namespace
}  // namespace brivanta::audio
