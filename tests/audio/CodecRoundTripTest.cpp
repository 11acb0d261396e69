// Every format of the catalogue, at several PCM rates and channel counts:
// a 1 kHz tone encoded and decoded again through two converters, the way the
// server and the client use them, and the decoder fed in arbitrary cuts.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "CodecTone.h"
#include "audio/ACM.h"
#include "audio/codecs/CodecDrivers.h"

namespace brivanta::audio {
namespace {

using test::MakeTone;
using test::MeasureTone;

struct FormatCase {
    int rate;
    int channels;
    std::string driver;
    uint16_t tag;
    uint32_t formatIndex;
    std::string name;
    common::WaveFormatEx description;
};

constexpr struct {
    int rate;
    int channels;
} kSignals[] = {{44100, 2}, {48000, 2}, {22050, 1}, {8000, 2}};

std::vector<FormatCase> AllFormats() {
    std::vector<FormatCase> cases;
    for (const auto& signal : kSignals) {
        TACM catalogue(TACM::kEncode, signal.rate, signal.channels, 0, true);
        for (const auto& driver : catalogue.Drivers()) {
            for (const auto& format : driver->Formats) {
                cases.push_back({signal.rate, signal.channels, driver->Name, format->FormatTag(),
                                 format->FormatIndex, format->Name, format->Description()});
            }
        }
    }
    return cases;
}

std::string CaseName(const testing::TestParamInfo<FormatCase>& info) {
    std::string name = info.param.driver + "_" + info.param.name;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
    return name;
}

// The quality a format must reach on the test tone.
struct Expectation {
    bool bitExact;
    double minSnrDb;
    double levelToleranceDb;
};

Expectation ExpectationFor(const FormatCase& format) {
    const int64_t kbitsPerChannel =
        int64_t{format.description.nAvgBytesPerSec} * 8 / 1000 / format.channels;
    switch (format.tag) {
        case codecs::kTagPcm:
            return format.description.wBitsPerSample == 16 ? Expectation{true, 80, 0.01}
                                                           : Expectation{false, 36, 0.1};
        case codecs::kTagFlac:
            return {true, 80, 0.01};
        case codecs::kTagALaw:
        case codecs::kTagMuLaw:
            return {false, 30, 0.2};
        case codecs::kTagImaAdpcm:
            return {false, 20, 0.5};
        default:
            // Perceptual codecs: at the lowest bit rates only the pitch of the
            // tone survives reliably.
            if (kbitsPerChannel < 24) {
                return {false, 3, 5.0};
            }
            return kbitsPerChannel < 48 ? Expectation{false, 10, 2.0} : Expectation{false, 14, 1.5};
    }
}

// Encodes pcm as the server does: capture blocks of a tenth of a second into
// an encoder with a buffer of half a second of samples and threshold 512.
std::vector<uint8_t> Encode(const FormatCase& format, const std::vector<uint8_t>& pcm,
                            std::vector<std::string>& errors) {
    TACM encoder(TACM::kEncode, format.rate, format.channels, 0, true);
    encoder.SetBufferSize(format.rate / 2);
    encoder.SetThreshold(256);
    std::vector<uint8_t> coded;
    encoder.OnHaveData = [&](TACM&, const uint8_t* data, uint32_t size) {
        coded.insert(coded.end(), data, data + size);
    };
    encoder.OnError = [&](TACM&, const std::string& text) { errors.push_back(text); };
    if (!encoder.SelectDriver(format.driver)) {
        ADD_FAILURE() << "no driver " << format.driver;
        return {};
    }
    const TACMFormatItem* item =
        encoder.FormatAt(encoder.FindFormat(format.tag, format.formatIndex));
    if (item == nullptr || encoder.Open(*item) != 0) {
        ADD_FAILURE() << "encoder does not open";
        return {};
    }
    const size_t block = static_cast<size_t>(format.rate / 10) * format.channels * 2;
    for (size_t at = 0; at < pcm.size(); at += block) {
        encoder.Convert(pcm.data() + at, std::min(block, pcm.size() - at));
    }
    encoder.Close();
    return coded;
}

// Decodes as the client does: it knows only the 18-byte description and finds
// its decoder through the catalogue, preferring the same driver name.
std::vector<uint8_t> Decode(const FormatCase& format, const std::vector<uint8_t>& coded, size_t cut,
                            std::vector<std::string>& errors) {
    TACM decoder(TACM::kDecode, 44100, 2, 0, false);
    decoder.SetBufferSize(44100);
    decoder.SetThreshold(512);
    decoder.SetSamplesPerSec(format.rate);
    decoder.SetChannels(format.channels);
    decoder.Enumerate();
    std::vector<uint8_t> pcm;
    decoder.OnHaveData = [&](TACM&, const uint8_t* data, uint32_t size) {
        pcm.insert(pcm.end(), data, data + size);
    };
    decoder.OnError = [&](TACM&, const std::string& text) { errors.push_back(text); };
    common::WaveFormatEx announced = format.description;
    announced.cbSize = 0;  // the codec's extra bytes are not sent
    const auto candidates = decoder.FindFormats(announced);
    const auto same = std::find_if(candidates.begin(), candidates.end(), [&](const auto* item) {
        return decoder.DriverNameById(item->DriverId) == format.driver;
    });
    if (same == candidates.end() || decoder.Open(**same) != 0) {
        ADD_FAILURE() << "no decoder for the announced format";
        return {};
    }
    for (size_t at = 0; at < coded.size(); at += cut) {
        decoder.Convert(coded.data() + at, std::min(cut, coded.size() - at));
    }
    decoder.Close();
    return pcm;
}

class CodecRoundTrip : public testing::TestWithParam<FormatCase> {};

TEST_P(CodecRoundTrip, KeepsFrequencyLevelAndChannelOrderOfATone) {
    const FormatCase& format = GetParam();
    const Expectation expected = ExpectationFor(format);
    const std::vector<uint8_t> input = MakeTone(format.rate, format.channels, 1.0);
    std::vector<std::string> errors;
    const std::vector<uint8_t> coded = Encode(format, input, errors);
    ASSERT_FALSE(coded.empty());
    const std::vector<uint8_t> output = Decode(format, coded, 4096, errors);
    EXPECT_TRUE(errors.empty()) << errors.front();
    ASSERT_GE(output.size(), input.size() * 9 / 10);
    if (expected.bitExact) {
        EXPECT_TRUE(output == input) << "lossless format is not bit-exact";
    }
    // Measure past the codec's start-up and before its tail.
    const size_t begin = static_cast<size_t>(format.rate) / 4;
    const size_t end = static_cast<size_t>(format.rate) * 8 / 10;
    for (int ch = 0; ch < format.channels; ++ch) {
        const auto measure =
            MeasureTone(test::Channel(output, format.channels, ch), format.rate, begin, end);
        const double level = ch == 0 ? test::kLeftDb : test::kRightDb;
        SCOPED_TRACE("channel " + std::to_string(ch));
        EXPECT_NEAR(measure.frequencyHz, test::kToneHz, 2.0);
        EXPECT_NEAR(measure.levelDb, level, expected.levelToleranceDb);
        EXPECT_GE(measure.snrDb, expected.minSnrDb);
    }
}

TEST_P(CodecRoundTrip, DecodesTheSameWhereverTheStreamIsCut) {
    const FormatCase& format = GetParam();
    const std::vector<uint8_t> input = MakeTone(format.rate, format.channels, 0.5);
    std::vector<std::string> errors;
    const std::vector<uint8_t> coded = Encode(format, input, errors);
    ASSERT_FALSE(coded.empty());
    const std::vector<uint8_t> whole = Decode(format, coded, coded.size(), errors);
    ASSERT_FALSE(whole.empty());
    for (size_t cut : {size_t{1}, size_t{7}, size_t{513}, size_t{5000}}) {
        EXPECT_TRUE(Decode(format, coded, cut, errors) == whole) << "cut every " << cut;
    }
    EXPECT_TRUE(errors.empty()) << errors.front();
}

INSTANTIATE_TEST_SUITE_P(AllFormats, CodecRoundTrip, testing::ValuesIn(AllFormats()), CaseName);

}  // namespace
}  // namespace brivanta::audio
