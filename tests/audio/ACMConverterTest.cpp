#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakeAcm.h"
#include "audio/ACM.h"

namespace brivanta::audio {
namespace {

using test::CodecFormat;
using test::FakeAcm;

constexpr int kRate = 44100;

// A converter on a fake codec, recording every event in order.
class Converter : public testing::Test {
  protected:
    explicit Converter(uint8_t direction = TACM::kEncode) : fake_(std::make_shared<FakeAcm>()) {
        fake_->drivers = {{3, "Fake", {{5, "fake format", CodecFormat(85, kRate, 2, 16000)}}}};
        acm_ = std::make_unique<TACM>(direction, kRate, 2, 0, true, fake_);
        acm_->OnHaveData = [this](TACM&, const uint8_t* data, uint32_t size) {
            events_.push_back("data " + std::to_string(size));
            output_.insert(output_.end(), data, data + size);
        };
        acm_->OnSourceUsed = [this](TACM&, const uint8_t*, uint32_t size) {
            events_.push_back("used " + std::to_string(size));
        };
        acm_->OnError = [this](TACM&, const std::string& text) { events_.push_back(text); };
        acm_->OnStart = [this](TACM&) { events_.push_back("start"); };
        acm_->OnStop = [this](TACM&) { events_.push_back("stop"); };
    }

    const TACMFormatItem& Item() const { return *acm_->Drivers()[0]->Formats[0]; }

    void OpenWith(int bufferSize, int threshold) {
        acm_->SetBufferSize(bufferSize);
        acm_->SetThreshold(threshold);
        ASSERT_EQ(acm_->Open(Item()), 0);
        events_.clear();
    }

    void Feed(size_t size) {
        const std::vector<uint8_t> data(size, 0x5A);
        acm_->Convert(data.data(), data.size());
    }

    std::vector<uint32_t> Flags() const {
        std::vector<uint32_t> flags;
        for (const auto& call : fake_->state->calls) {
            flags.push_back(call.flags);
        }
        return flags;
    }

    std::shared_ptr<FakeAcm> fake_;
    std::unique_ptr<TACM> acm_;
    std::vector<std::string> events_;
    std::vector<uint8_t> output_;
};

TEST(ACMSizes, CreateSizesTheBufferFromTheByteRate) {
    const struct {
        int rate;
        int channels;
        int srcSize;
        int threshold;
    } cases[] = {{44100, 2, 44100, 11025}, {8000, 1, 4000, 1000}, {1000, 1, 512, 128}};
    for (const auto& c : cases) {
        TACM acm(TACM::kEncode, c.rate, c.channels, 0, false, std::make_shared<FakeAcm>());
        EXPECT_EQ(acm.SrcSize(), c.srcSize);
        EXPECT_EQ(acm.Threshold(), c.threshold);
        EXPECT_EQ(acm.BitsPerSample(), 16);
        EXPECT_TRUE(acm.OpenDriver);
        EXPECT_FALSE(acm.Active());
    }
}

TEST(ACMSizes, BufferAndThresholdHaveTheirMinimum) {
    TACM acm(TACM::kEncode, kRate, 2, 0, false, std::make_shared<FakeAcm>());
    const struct {
        int bufferSize;
        int threshold;
        int srcSize;
        int expectedThreshold;
    } cases[] = {{100, 256, 512, 512},
                 {600, 10000, 600, 600},
                 {4096, 2048, 4096, 2048},
                 {44100, 512, 44100, 512}};
    for (const auto& c : cases) {
        acm.SetBufferSize(c.bufferSize);
        acm.SetThreshold(c.threshold);
        EXPECT_EQ(acm.SrcSize(), c.srcSize);
        EXPECT_EQ(acm.Threshold(), c.expectedThreshold);
    }
    acm.SetBufferSize(4096);
    acm.SetThreshold(3000);
    acm.SetBufferSize(1000);  // a smaller buffer lowers the threshold
    EXPECT_EQ(acm.Threshold(), 1000);
}

TEST(ACMSizes, PcmFormatFollowsItsSetters) {
    TACM acm(TACM::kDecode, kRate, 2, 0, false, std::make_shared<FakeAcm>());
    acm.SetSamplesPerSec(22050);
    acm.SetChannels(1);
    acm.SetBitsPerSample(8);
    const common::WaveFormatEx expected{1, 1, 22050, 22050, 1, 8, 18};
    EXPECT_EQ(acm.PcmFormat(), expected);
    EXPECT_EQ(acm.SamplesPerSec(), 22050);
}

TEST_F(Converter, ClosedConverterDropsInputAndCloseOnlyStops) {
    Feed(5000);
    EXPECT_EQ(acm_->SrcFill(), 0);
    acm_->Close();
    EXPECT_EQ(events_, (std::vector<std::string>{"stop"}));
    EXPECT_TRUE(fake_->state->calls.empty());
}

TEST_F(Converter, OpenArmsTheStartFlagAndSizesTheDestination) {
    acm_->SetBufferSize(2048);
    ASSERT_EQ(acm_->Open(Item()), 0);
    EXPECT_EQ(events_, (std::vector<std::string>{"start"}));
    EXPECT_TRUE(acm_->Active());
    EXPECT_EQ(acm_->ConvertFlags(), 16);
    EXPECT_EQ(acm_->DstSize(), 2048u);
    ASSERT_EQ(fake_->openCalls.size(), 1u);
    EXPECT_EQ(fake_->openCalls[0].driver, 3u);
    EXPECT_EQ(fake_->openCalls[0].src.wFormatTag, 1);
    EXPECT_EQ(fake_->openCalls[0].dst.wFormatTag, 85);
    EXPECT_EQ(fake_->openDrivers, 0);
    EXPECT_EQ(acm_->Open(Item()), -1);  // already open
    EXPECT_EQ(fake_->openCalls.size(), 1u);
}

TEST_F(Converter, WithoutOpenDriverTheLayerChoosesTheDriver) {
    acm_->OpenDriver = false;
    ASSERT_EQ(acm_->Open(Item()), 0);
    EXPECT_EQ(fake_->openCalls[0].driver, 0u);
}

TEST_F(Converter, FailedOpensReturnTheirCodeAndStayClosed) {
    const struct {
        int openResult;
        int sizeResult;
        int64_t dstSize;
        int prepareResult;
        int expected;
    } cases[] = {{512, 0, -1, 0, 512}, {0, 11, -1, 0, 11}, {0, 0, 0, 0, -1}, {0, 0, -1, 7, 7}};
    for (const auto& c : cases) {
        fake_->openResults = {c.openResult};
        fake_->state->sizeResult = c.sizeResult;
        fake_->state->dstSize = c.dstSize;
        fake_->state->prepareResult = c.prepareResult;
        events_.clear();
        EXPECT_EQ(acm_->Open(Item()), c.expected);
        EXPECT_FALSE(acm_->Active());
        EXPECT_TRUE(events_.empty());
        Feed(5000);
        EXPECT_TRUE(fake_->state->calls.empty());
    }
    EXPECT_EQ(fake_->state->destroyed, 3);  // streams opened before the failure are closed
}

TEST_F(Converter, BytesBelowTheThresholdWaitWithoutEvents) {
    OpenWith(2048, 1024);
    Feed(1000);
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(acm_->SrcFill(), 1000);
    EXPECT_TRUE(fake_->state->calls.empty());
    Feed(100);
    ASSERT_EQ(fake_->state->calls.size(), 1u);
    EXPECT_EQ(fake_->state->calls[0].srcLength, 1100u);
    EXPECT_EQ(events_, (std::vector<std::string>{"data 1100", "used 1100"}));
    EXPECT_EQ(acm_->SrcFill(), 0);
}

TEST_F(Converter, MoreInputThanTheBufferRunsSeveralPasses) {
    OpenWith(512, 512);
    Feed(1300);
    EXPECT_EQ(events_, (std::vector<std::string>{"data 512", "used 512", "data 512", "used 512"}));
    EXPECT_EQ(acm_->SrcFill(), 276);
    EXPECT_EQ(output_.size(), 1024u);
}

TEST_F(Converter, WhatTheCodecLeavesMovesToTheFront) {
    OpenWith(1024, 512);
    fake_->state->convert = [](msacm::StreamHeader& header, uint32_t) {
        header.cbSrcLengthUsed = header.cbSrcLength / 100 * 100;  // whole blocks of 100
        return 0;
    };
    std::vector<uint8_t> data(650);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    acm_->Convert(data.data(), data.size());
    EXPECT_EQ(events_, (std::vector<std::string>{"used 600"}));
    ASSERT_EQ(acm_->SrcFill(), 50);
    EXPECT_EQ(acm_->SrcBuffer()[0], 600 % 256);
    EXPECT_EQ(acm_->SrcBuffer()[49], 649 % 256);
}

TEST_F(Converter, FirstPassCarriesTheStartFlagLaterOnesBlockAlignAndCloseTheEnd) {
    OpenWith(512, 512);
    Feed(512);
    Feed(512);
    Feed(100);
    acm_->Close();
    EXPECT_EQ(Flags(), (std::vector<uint32_t>{20, 4, 36}));
    EXPECT_EQ(acm_->ConvertFlags(), 0);
}

TEST_F(Converter, CloseFlushesEvenWithNothingWaiting) {
    OpenWith(512, 512);
    fake_->state->convert = [](msacm::StreamHeader& header, uint32_t flags) {
        if ((flags & msacm::ACM_STREAMCONVERTF_END) != 0) {
            header.cbDstLengthUsed = 3;  // the codec's held-back tail
        }
        header.cbSrcLengthUsed = header.cbSrcLength;
        return 0;
    };
    acm_->Close();
    EXPECT_EQ(Flags(), (std::vector<uint32_t>{36}));  // the end flag replaces the unused start flag
    EXPECT_EQ(events_, (std::vector<std::string>{"data 3", "stop"}));
    EXPECT_FALSE(acm_->Active());
    EXPECT_EQ(acm_->DstSize(), 0u);
    EXPECT_EQ(fake_->state->unprepareCalls, 1);
    EXPECT_EQ(fake_->state->destroyed, 1);
}

TEST_F(Converter, AFullBufferTheCodecDoesNotTouchIsDropped) {
    OpenWith(512, 512);
    fake_->state->convert = [](msacm::StreamHeader&, uint32_t) { return 0; };
    Feed(512);
    EXPECT_EQ(events_, (std::vector<std::string>{
                           "Error 1024.hdr1: 512(512), Dst 0 (512), Shift=512", "used 512"}));
    EXPECT_EQ(acm_->SrcFill(), 0);
}

TEST_F(Converter, CodecFailuresAreReportedWithTheHeaderBeforeAndAfter) {
    OpenWith(1024, 512);
    fake_->state->convert = [](msacm::StreamHeader& header, uint32_t) {
        header.cbSrcLengthUsed = 200;
        header.cbDstLengthUsed = 10;
        return msacm::MMSYSERR_NOTSUPPORTED;
    };
    Feed(600);
    EXPECT_EQ(events_, (std::vector<std::string>{
                           "Error 512.hdr1: 600(1024), Dst 0 (1024), Shift=600",
                           "hdr2: 600(1024), Dst 10 (1024), Shift=600", "data 10", "used 200"}));
    EXPECT_EQ(acm_->SrcFill(), 400);
    EXPECT_TRUE(acm_->Active());  // failures never close the stream
}

TEST_F(Converter, ACodecExceptionCountsAsFailure) {
    OpenWith(512, 512);
    fake_->state->convert = [](msacm::StreamHeader&, uint32_t) -> int {
        throw std::runtime_error("codec broke");
    };
    Feed(100);
    acm_->Close();
    ASSERT_GE(events_.size(), 3u);
    EXPECT_EQ(events_[0], "codec broke");
    EXPECT_EQ(events_[1], "Error 512.hdr1: 100(512), Dst 0 (512), Shift=100");
    EXPECT_EQ(events_.back(), "stop");
}

TEST_F(Converter, ReentryFromAnEventIsReported) {
    OpenWith(512, 512);
    bool nested = false;
    acm_->OnHaveData = [&](TACM& sender, const uint8_t*, uint32_t) {
        if (!nested) {
            nested = true;
            const uint8_t byte = 1;
            sender.Convert(&byte, 1);
        }
    };
    Feed(512);
    EXPECT_EQ(events_.front(), "Recurced!");
    EXPECT_FALSE(acm_->InConvert());
}

TEST_F(Converter, CurrentSurvivesARebuildOfTheCatalogue) {
    OpenWith(512, 512);
    ASSERT_NE(acm_->Current(), nullptr);
    fake_->drivers.clear();
    acm_->Enumerate();
    EXPECT_EQ(acm_->DriverCount(), 0);
    ASSERT_NE(acm_->Current(), nullptr);
    EXPECT_EQ(acm_->Current()->Name, "fake format");
    EXPECT_EQ(acm_->Current()->FormatIndex, 5u);
}

class Decoder : public Converter {
  protected:
    Decoder() : Converter(TACM::kDecode) {}
};

TEST_F(Decoder, OpensFromTheCodecFormatToPcm) {
    ASSERT_EQ(acm_->Open(Item()), 0);
    EXPECT_EQ(fake_->openCalls[0].src.wFormatTag, 85);
    EXPECT_EQ(fake_->openCalls[0].dst.wFormatTag, 1);
}

TEST_F(Decoder, FailedOpenTakesTheSuggestedPcmFormatOnAnyDriver) {
    const common::WaveFormatEx suggested{1, 2, kRate, kRate * 2, 2, 8, 0};
    fake_->openResults = {512};
    fake_->pcmSuggestion = suggested;
    ASSERT_EQ(acm_->Open(Item()), 0);
    EXPECT_EQ(acm_->PcmFormat(), suggested);
    ASSERT_EQ(fake_->openCalls.size(), 2u);
    EXPECT_EQ(fake_->openCalls[1].driver, 0u);
    EXPECT_EQ(fake_->openCalls[1].dst, suggested);
}

TEST_F(Decoder, FailedSuggestionReturnsItsCode) {
    fake_->openResults = {512};
    fake_->pcmSuggestion = common::WaveFormatEx{};
    fake_->suggestResult = 8;
    EXPECT_EQ(acm_->Open(Item()), 8);
    EXPECT_EQ(fake_->openCalls.size(), 1u);
    EXPECT_EQ(acm_->PcmFormat().nSamplesPerSec, static_cast<uint32_t>(kRate));
}

}  // namespace
}  // namespace brivanta::audio
