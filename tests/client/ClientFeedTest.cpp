#include "client/ClientFeed.h"

#include <gtest/gtest.h>

#include <vector>

#include "audio/DeviceFake.h"
#include "common/Clock.h"

namespace brivanta::client {
namespace {

using audio::testing::FakeWaveBackend;
using audio::testing::UsableDevice;

// A link that keeps what it was sent.
struct RecordingLink final : IClientLink {
    bool peers = true;
    std::vector<std::vector<uint8_t>> blocks;
    void Broadcast(int32_t, int32_t, bool) override {}
    void BroadcastData(int32_t code, int32_t value, const uint8_t* data, size_t size) override {
        EXPECT_EQ(code, 0);
        EXPECT_EQ(value, 0);
        blocks.emplace_back(data, data + size);
    }
    bool HasPeers() const override { return peers; }
};

// 44.1 kHz 16-bit stereo: 176400 bytes a second.
constexpr int kBytesPerSecond = 176400;

struct ClientFeedTest : ::testing::Test {
    common::VirtualClock clock{5000};
    FakeWaveBackend devices;
    audio::TPluginHost plugins;
    RecordingLink link;
    TClientFeed feed{clock, plugins, link};
    std::unique_ptr<TWavePlayer> player;

    void SetUp() override {
        devices.outputs = {UsableDevice(0, "Speakers")};
        player = std::make_unique<TWavePlayer>(devices);
        feed.SetPlayer(player.get());
        feed.BufferToByte(10);
        ASSERT_EQ(player->Open(), 0);
    }

    // Sizes of the blocks handed to the device since the last call.
    std::vector<size_t> Written() {
        std::vector<size_t> sizes;
        for (size_t i = seen_; i < devices.handedOver.size(); ++i) {
            sizes.push_back(devices.handedOver[i]->bytesUsed);
        }
        seen_ = devices.handedOver.size();
        return sizes;
    }

    // Queues `seconds` of silence in blocks of 4410 bytes (1/40 s).
    void Queue(double seconds) {
        const std::vector<uint8_t> block(4410, 0);
        for (int i = 0; i < static_cast<int>(seconds * 40 + 0.5); ++i) {
            ASSERT_TRUE(player->Write(block.data(), 4410));
        }
        Written();
    }

    // The device finishes its oldest block; the player learns of it.
    void PlayOne() {
        devices.PlayNext();
        player->Poll();
    }

    size_t seen_ = 0;
};

TEST_F(ClientFeedTest, LongBlocksAreWrittenInChunks) {
    const std::vector<uint8_t> pcm(10000, 1);
    feed.SendDataToList(pcm.data(), 10000);
    EXPECT_EQ(Written(), (std::vector<size_t>{4096, 5904}));
    feed.SendDataToList(pcm.data(), 8192);
    EXPECT_EQ(Written(), (std::vector<size_t>{4096, 4096}));
    feed.SendDataToList(pcm.data(), 8190);
    EXPECT_EQ(Written(), (std::vector<size_t>{8188}));  // whole 16-bit stereo frames
    EXPECT_EQ(feed.CorrectedChunks(), 0u);
}

TEST_F(ClientFeedTest, AFloodIsDroppedUntilTheQueueDrainsToTargetPlusATenth) {
    Queue(3.0);
    const std::vector<uint8_t> pcm(4408, 1);  // whole frames
    feed.SendDataToList(pcm.data(), 4408);
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(feed.Overflow());
    EXPECT_EQ(feed.Rate(), (TRateState{}));
    // 3.0 s down to 1.075 s: every block is still dropped.
    while (player->Buffered() > 1.085) {
        PlayOne();
        feed.SendDataToList(pcm.data(), 4408);
        EXPECT_TRUE(Written().empty()) << player->Buffered();
    }
    PlayOne();  // 1.05 s: at or below 1.06 the feed writes again
    feed.SendDataToList(pcm.data(), 4408);
    EXPECT_EQ(Written(), (std::vector<size_t>{4408}));
    EXPECT_FALSE(feed.Overflow());
    EXPECT_EQ(feed.DroppedBytes(), 4408u * 78);
}

TEST_F(ClientFeedTest, BelowOverflowWithoutAFloodAudioIsKept) {
    Queue(2.0);
    const std::vector<uint8_t> pcm(4408, 1);
    feed.SendDataToList(pcm.data(), 4408);
    EXPECT_EQ(Written(), (std::vector<size_t>{4408}));
}

TEST_F(ClientFeedTest, AShortQueueEarnsAStretchThatLengthensTheNextChunks) {
    const std::vector<uint8_t> pcm(4096, 1);
    feed.ResetRateControl();
    clock.Advance(10000);  // 10 s at about 0.94 s short: past 5 x 0.96
    feed.SendDataToList(pcm.data(), 4096);
    EXPECT_EQ(Written(), (std::vector<size_t>{4096}));
    EXPECT_EQ(feed.Rate().Correction, 1);
    feed.SendDataToList(pcm.data(), 4096);
    EXPECT_EQ(Written(), (std::vector<size_t>{4104}));  // 2 frames more
    EXPECT_EQ(feed.CorrectedChunks(), 1u);
}

TEST_F(ClientFeedTest, AnOverfullQueueEarnsAShrink) {
    Queue(1.5);
    const std::vector<uint8_t> pcm(4096, 1);
    feed.ResetRateControl();
    clock.Advance(10000);
    feed.SendDataToList(pcm.data(), 4096);
    EXPECT_EQ(feed.Rate().Correction, -1);
    Written();
    feed.SendDataToList(pcm.data(), 4096);
    EXPECT_EQ(Written(), (std::vector<size_t>{4088}));
}

TEST_F(ClientFeedTest, SilencePreFillReachesTheGoalIn4096ByteBlocks) {
    feed.PutInList(feed.Levels().Target);
    const auto written = Written();
    EXPECT_EQ(written.size(), 42u);  // 41 blocks make 0.952 s, 42 make 0.975 s
    EXPECT_GE(player->Buffered(), 0.96);
    for (const auto* buffer : devices.handedOver) {
        EXPECT_EQ(buffer->data, std::vector<uint8_t>(4096, 0));
    }
}

TEST_F(ClientFeedTest, EightBitSilenceIsMidScale) {
    player->Close();
    player->BitsPerSample = 8;
    feed.PutInList(0.01);  // opens the player
    ASSERT_TRUE(player->Active());
    ASSERT_FALSE(devices.handedOver.empty());
    EXPECT_EQ(devices.handedOver.front()->data, std::vector<uint8_t>(4096, 128));
}

TEST_F(ClientFeedTest, PreFillEndsWhenThePlayerRefusesOrCannotOpen) {
    devices.acceptsLeft = 3;
    devices.addResult = audio::wave_error::kNoMemory;
    feed.PutInList(feed.Levels().Target);  // must return
    EXPECT_EQ(Written().size(), 3u);

    player->Close();
    devices.openResult = audio::wave_error::kAllocated;
    feed.PutInList(feed.Levels().Target);
    EXPECT_FALSE(player->Active());
}

TEST_F(ClientFeedTest, PlayedBlocksGoToTheTapWithTheLevelsBeforeTheVolume) {
    player->SetVolume(50);
    std::vector<uint8_t> pcm(400, 0);
    const int16_t loud[2] = {16384, -16384};
    std::memcpy(pcm.data(), loud, 4);
    std::vector<uint8_t> scaled(400, 0);
    const int16_t half[2] = {8192, -8192};
    std::memcpy(scaled.data(), half, 4);

    feed.BlockPlayed(*player, pcm.data(), 400, scaled.data(), false);
    ASSERT_EQ(link.blocks.size(), 1u);
    double left = 0;
    std::memcpy(&left, link.blocks[0].data() + 6, 8);
    EXPECT_NEAR(left, -6.02, 0.01);                  // the tap carries the level as written
    EXPECT_NEAR(player->LeftLevel(), -12.04, 0.01);  // the meter shows it as played
    EXPECT_EQ(std::vector<uint8_t>(link.blocks[0].begin() + 22, link.blocks[0].end()), pcm);

    feed.BlockPlayed(*player, pcm.data(), 400, scaled.data(), true);
    EXPECT_NEAR(player->LeftLevel(), -6.02, 0.01);

    link.peers = false;
    feed.BlockPlayed(*player, pcm.data(), 400, scaled.data(), false);
    EXPECT_EQ(link.blocks.size(), 2u);
}

struct DecoderStartTest : ::testing::Test {
    common::VirtualClock clock;
    audio::TPluginHost plugins;
    NullClientLink link;
    TClientFeed feed{clock, plugins, link};
    audio::TACM acm{audio::TACM::kDecode, 44100, 2, 0, true};
    int starts = 0;
    void SetUp() override {
        acm.OnStart = [this](audio::TACM&) { ++starts; };
    }
};

TEST_F(DecoderStartTest, ASecondLoginToTheSameStreamKeepsTheDecoderOpen) {
    const auto pcm = common::MakePcmFormat(44100, 2, 16);
    feed.ApplyBitrate(acm, 44100, 2, 16);
    const auto* first = feed.TryToStartDecoder(acm, pcm, "PCM");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(acm.DriverNameById(first->DriverId), "PCM");
    feed.ApplyBitrate(acm, 44100, 2, 16);
    EXPECT_EQ(feed.TryToStartDecoder(acm, pcm, "another driver name"), acm.Current());
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(acm.Active());
}

TEST_F(DecoderStartTest, AnotherFormatReopensAndAnUnknownOneFindsNothing) {
    feed.ApplyBitrate(acm, 44100, 2, 16);
    ASSERT_NE(feed.TryToStartDecoder(acm, common::MakePcmFormat(44100, 2, 16), "PCM"), nullptr);
    feed.ApplyBitrate(acm, 22050, 1, 16);
    const auto* mono = feed.TryToStartDecoder(acm, common::MakePcmFormat(22050, 1, 16), "PCM");
    ASSERT_NE(mono, nullptr);
    EXPECT_EQ(mono->Description().nChannels, 1);
    EXPECT_EQ(starts, 2);
    const common::WaveFormatEx unknown{85, 2, 44100, 12345, 1, 0, 0};
    EXPECT_EQ(feed.TryToStartDecoder(acm, unknown, "MPEG Layer-3 (LAME)"), nullptr);
    EXPECT_FALSE(acm.Active());
}

TEST_F(DecoderStartTest, TheAnnouncedDriverIsPreferredButAnyDriverWillDo) {
    feed.ApplyBitrate(acm, 44100, 2, 16);
    const common::WaveFormatEx mp3 = [&] {
        for (int i = 0; i < acm.DriverCount(); ++i) {
            if (acm.DriverName(i) == "MPEG Layer-3 (LAME)") {
                acm.SelectDriver(acm.DriverName(i));
                return acm.FormatAt(0)->Description();
            }
        }
        return common::WaveFormatEx{};
    }();
    ASSERT_EQ(mp3.wFormatTag, 85);
    const auto* opened = feed.TryToStartDecoder(acm, mp3, "Some other LAME build");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(acm.DriverNameById(opened->DriverId), "MPEG Layer-3 (LAME)");
}

TEST(ApplyBitrateTest, FormatsAreNormalisedAndAnOpenPlayerIsReopened) {
    common::VirtualClock clock;
    audio::TPluginHost plugins;
    NullClientLink link;
    TClientFeed feed{clock, plugins, link};
    audio::TACM acm{audio::TACM::kDecode, 44100, 2, 0, true};
    FakeWaveBackend devices;
    devices.outputs = {UsableDevice(0, "Speakers")};
    TWavePlayer player(devices);
    feed.SetPlayer(&player);
    ASSERT_EQ(player.Open(), 0);
    devices.calls.clear();

    feed.ApplyBitrate(acm, 32000, 6, 24);
    EXPECT_EQ(acm.SamplesPerSec(), 32000);
    EXPECT_EQ(acm.Channels(), 2);
    EXPECT_EQ(acm.BitsPerSample(), 16);
    EXPECT_EQ(player.SamplesPerSec, 32000);
    EXPECT_EQ(player.Channels, 2);
    EXPECT_TRUE(player.Active());
    EXPECT_EQ(devices.lastFormat, common::MakePcmFormat(32000, 2, 16));
    EXPECT_EQ(devices.calls,
              (std::vector<std::string>{"reset", "close", "query", "open", "start"}));

    devices.calls.clear();
    feed.ApplyBitrate(acm, 32000, 2, 16);
    EXPECT_TRUE(devices.calls.empty());  // nothing changed, nothing reopened
    feed.ApplyBitrate(acm, 32000, 1, 8);
    EXPECT_EQ(player.Channels, 1);
    EXPECT_EQ(player.BitsPerSample, 8);
}

}  // namespace
}  // namespace brivanta::client
