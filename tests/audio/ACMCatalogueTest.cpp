#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "FakeAcm.h"
#include "audio/ACM.h"

namespace brivanta::audio {
namespace {

using test::CodecFormat;
using test::FakeAcm;
using test::FakeDriver;

constexpr int kRate = 44100;
constexpr int kChannels = 2;

// Drivers of every kind the catalogue must sort out, in enumeration order.
std::shared_ptr<FakeAcm> MixedDrivers() {
    auto acm = std::make_shared<FakeAcm>();
    acm->drivers = {
        {1,
         "Layer3",
         {{0, "128 kbit/s", CodecFormat(85, kRate, 2, 16000)},
          {3, "64 kbit/s", CodecFormat(85, kRate, 2, 8000)},
          {0, "mu-law", CodecFormat(7, kRate, 2, 88200, 2, 8)}}},
        {2, "Other rate", {{0, "22 kHz", CodecFormat(85, 22050, 2, 16000)}}},
        {3, "Mono only", {{0, "mono", CodecFormat(85, kRate, 1, 16000)}}},
        {4, "No details", {{0, "x", CodecFormat(85, kRate, 2, 16000)}}, false, true},
        {5, "Cannot open", {{0, "x", CodecFormat(85, kRate, 2, 16000)}}, true, false},
        {6, "Refuses", {{0, "x", CodecFormat(0x50, kRate, 2, 24000), false}}},
        {7, "Layer2", {{2, "192 kbit/s", CodecFormat(0x50, kRate, 2, 24000)}}},
    };
    return acm;
}

std::vector<std::string> DriverNames(const TACM& acm) {
    std::vector<std::string> names;
    for (int i = 0; i < acm.DriverCount(); ++i) {
        names.push_back(acm.DriverName(i));
    }
    return names;
}

std::vector<uint16_t> AllTags(const TACM& acm) {
    std::vector<uint16_t> tags;
    for (const auto& driver : acm.Drivers()) {
        for (const auto& format : driver->Formats) {
            tags.push_back(format->FormatTag());
        }
    }
    return tags;
}

TEST(ACMCatalogue, ListsOnlyDriversWithAUsableFormatInEnumerationOrder) {
    for (uint8_t direction : {TACM::kEncode, TACM::kDecode}) {
        TACM acm(direction, kRate, kChannels, 0, true, MixedDrivers());
        EXPECT_EQ(DriverNames(acm), (std::vector<std::string>{"Layer3", "Layer2"}));
        EXPECT_EQ(acm.MaxFormatSize(), 20u);
        ASSERT_EQ(acm.Drivers()[0]->Formats.size(), 3u);
        EXPECT_EQ(acm.Drivers()[0]->Formats[1]->FormatIndex, 3u);
        EXPECT_EQ(acm.Drivers()[0]->Formats[1]->Name, "64 kbit/s");
        EXPECT_EQ(acm.PcmFormat().wFormatTag, 1);
    }
}

TEST(ACMCatalogue, AsksTheDriverForAConversionInItsDirection) {
    for (uint8_t direction : {TACM::kEncode, TACM::kDecode}) {
        auto fake = MixedDrivers();
        TACM acm(direction, kRate, kChannels, 0, true, fake);
        ASSERT_FALSE(fake->suggestCalls.empty());
        const auto& call = fake->suggestCalls.front();
        EXPECT_EQ(call.driver, 1u);  // on the format's own driver
        EXPECT_EQ(direction == TACM::kEncode ? call.srcTag : call.dstTag, 1);
        EXPECT_EQ(direction == TACM::kEncode ? call.dstTag : call.srcTag, 85);
        EXPECT_EQ(fake->openDrivers, 0);  // every driver opened is closed again
    }
}

TEST(ACMCatalogue, TagFilterSelectsTagsAndZeroOrEighteenMeanAll) {
    const struct {
        uint16_t filter;
        std::vector<uint16_t> tags;
    } cases[] = {
        {0, {85, 85, 7, 0x50}}, {18, {85, 85, 7, 0x50}}, {85, {85, 85}}, {7, {7}}, {0x55AA, {}},
    };
    for (const auto& c : cases) {
        TACM acm(TACM::kEncode, kRate, kChannels, c.filter, true, MixedDrivers());
        EXPECT_EQ(AllTags(acm), c.tags) << "filter " << c.filter;
    }
}

TEST(ACMCatalogue, FailedSizeQueryLeavesAnEmptyCatalogue) {
    auto fake = MixedDrivers();
    fake->metricsResult = 8;
    TACM acm(TACM::kEncode, kRate, kChannels, 0, true, fake);
    EXPECT_EQ(acm.DriverCount(), 0);
    EXPECT_FALSE(acm.SelectDriver("Layer3"));
    EXPECT_TRUE(acm.FindFormats(CodecFormat(85, kRate, 2, 16000)).empty());
}

TEST(ACMCatalogue, CutsNamesAt128Characters) {
    auto fake = std::make_shared<FakeAcm>();
    const std::string longName(200, 'n');
    fake->drivers = {{1, longName, {{0, longName, CodecFormat(85, kRate, 2, 16000)}}}};
    TACM acm(TACM::kEncode, kRate, kChannels, 0, true, fake);
    ASSERT_EQ(acm.DriverCount(), 1);
    EXPECT_EQ(acm.DriverName(0), longName.substr(0, 128));
    acm.DriverIndex = 0;
    EXPECT_EQ(acm.FormatName(0), longName.substr(0, 128));
}

TEST(ACMCatalogue, LookupsOutsideTheListsAnswerEmpty) {
    TACM acm(TACM::kEncode, kRate, kChannels, 0, true, MixedDrivers());
    EXPECT_EQ(acm.DriverName(-1), "");
    EXPECT_EQ(acm.DriverName(2), "");
    EXPECT_EQ(acm.DriverNameById(7), "Layer2");
    EXPECT_EQ(acm.DriverNameById(2), "");  // listed by the platform, but without formats
    for (int32_t index : {-1, 2, 99}) {
        acm.DriverIndex = index;
        EXPECT_EQ(acm.FormatCount(), 0);
        EXPECT_EQ(acm.FormatName(0), "");
        EXPECT_EQ(acm.FormatAt(0), nullptr);
        EXPECT_EQ(acm.FindFormat(85, 0), -1);
    }
    acm.DriverIndex = 0;
    EXPECT_EQ(acm.FormatAt(-1), nullptr);
    EXPECT_EQ(acm.FormatAt(3), nullptr);
    EXPECT_EQ(acm.FormatName(3), "");
    ASSERT_NE(acm.FormatAt(2), nullptr);
    EXPECT_EQ(acm.FormatAt(2)->Name, "mu-law");
}

TEST(ACMCatalogue, SelectDriverKeepsThePreviousChoiceWhenTheNameIsUnknown) {
    TACM acm(TACM::kEncode, kRate, kChannels, 0, true, MixedDrivers());
    EXPECT_TRUE(acm.SelectDriver("Layer2"));
    EXPECT_EQ(acm.DriverIndex, 1);
    EXPECT_FALSE(acm.SelectDriver("layer3"));  // names compare case-sensitively
    EXPECT_FALSE(acm.SelectDriver("Refuses"));
    EXPECT_EQ(acm.DriverIndex, 1);
    EXPECT_TRUE(acm.SelectDriver("Layer3"));
    EXPECT_EQ(acm.DriverIndex, 0);
}

TEST(ACMCatalogue, FindFormatNeedsTagAndFormatIndex) {
    TACM acm(TACM::kEncode, kRate, kChannels, 0, true, MixedDrivers());
    ASSERT_TRUE(acm.SelectDriver("Layer3"));
    const struct {
        uint16_t tag;
        uint32_t index;
        int position;
    } cases[] = {{85, 0, 0}, {85, 3, 1}, {7, 0, 2}, {85, 1, -1}, {85, 2, -1}, {0x50, 2, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(acm.FindFormat(c.tag, c.index), c.position) << c.tag << "/" << c.index;
    }
}

TEST(ACMCatalogue, FindFormatsIgnoresBlockAlignAndExtraSize) {
    auto fake = std::make_shared<FakeAcm>();
    fake->drivers = {
        {1,
         "A",
         {{0, "a1", CodecFormat(85, kRate, 2, 16000, 1)},
          {1, "a2", CodecFormat(85, kRate, 2, 8000, 1)}}},
        {2,
         "B",
         {{0, "b1", CodecFormat(85, kRate, 2, 16000, 1152)},
          {1, "b2", CodecFormat(85, kRate, 2, 16000, 1, 16)}}},
    };
    TACM acm(TACM::kDecode, kRate, kChannels, 0, true, fake);
    common::WaveFormatEx announced = CodecFormat(85, kRate, 2, 16000, 417);
    announced.cbSize = 12;
    const auto found = acm.FindFormats(announced);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0]->Name, "a1");
    EXPECT_EQ(found[1]->Name, "b1");  // b2 differs in bits per sample
}

TEST(ACMCatalogue, RebuildForANewRateSelectsTheStoredChoiceWhereItStillExists) {
    TACM acm(TACM::kEncode, 48000, 2, 0, true);
    const std::string layer3 = "MPEG Layer-3 (LAME)";
    ASSERT_TRUE(acm.SelectDriver(layer3));
    const int at128 = acm.FindFormat(85, 11);
    ASSERT_GE(at128, 0);
    EXPECT_EQ(acm.FormatName(at128), "128 kbit/s, 48000 Hz, Stereo");
    ASSERT_GE(acm.FindFormat(85, 15), 0);  // 224 kbit/s
    EXPECT_TRUE(acm.SelectDriver("Opus"));

    acm.SetSamplesPerSec(22050);
    acm.Enumerate();
    EXPECT_FALSE(acm.SelectDriver("Opus"));  // not at this rate
    ASSERT_TRUE(acm.SelectDriver(layer3));
    const int again = acm.FindFormat(85, 11);
    ASSERT_GE(again, 0);
    EXPECT_EQ(acm.FormatName(again), "128 kbit/s, 22050 Hz, Stereo");
    EXPECT_EQ(acm.FindFormat(85, 15), -1);  // 224 kbit/s does not exist at MPEG-2 rates
    EXPECT_EQ(acm.FormatAt(again)->Description().nSamplesPerSec, 22050u);
}

TEST(ACMCatalogue, RealDriversComeInTheirFixedOrder) {
    TACM acm(TACM::kEncode, 48000, 2, 0, true);
    EXPECT_EQ(DriverNames(acm),
              (std::vector<std::string>{"PCM", "G.711 A-law and mu-law", "IMA ADPCM",
                                        "MPEG Layer-2", "MPEG Layer-3 (LAME)", "Opus", "FLAC"}));
    TACM at44(TACM::kDecode, 44100, 1, 0, true);
    EXPECT_EQ(at44.DriverNameById(6), "");  // Opus needs 48 kHz
    EXPECT_EQ(at44.DriverNameById(7), "FLAC");
}

}  // namespace
}  // namespace brivanta::audio
