#include "client/WPlayer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "audio/DeviceFake.h"
#include "audio/VirtualDevices.h"
#include "audio/WavReader.h"
#include "common/Clock.h"

namespace brivanta::client {
namespace {

using audio::testing::FakeWaveBackend;
using audio::testing::UsableDevice;
using ::testing::ElementsAre;

std::vector<uint8_t> Samples16(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

struct Played {
    std::vector<uint8_t> written;
    std::vector<uint8_t> played;
};

struct WPlayerTest : ::testing::Test {
    FakeWaveBackend backend;
    std::vector<Played> played;

    WPlayerTest() { backend.outputs = {UsableDevice(5, "Speakers"), UsableDevice(6, "HDMI")}; }

    std::unique_ptr<TWavePlayer> MakeOpenPlayer() {
        auto player = std::make_unique<TWavePlayer>(backend);
        player->OnBlockPlayed = [this](TWavePlayer&, const uint8_t* data, int32_t size,
                                       const uint8_t* scaled) {
            played.push_back({std::vector<uint8_t>(data, data + size),
                              std::vector<uint8_t>(scaled, scaled + size)});
        };
        EXPECT_EQ(player->Open(), 0);
        return player;
    }

    bool Write(TWavePlayer& player, const std::vector<uint8_t>& bytes) {
        return player.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
    }
};

TEST_F(WPlayerTest, ListsCdCapableDevicesTrimmedAtCreationAndAsReportedAfterRefresh) {
    backend.outputs = {
        {1, "Mono speaker", false}, UsableDevice(2, " Speakers  "), UsableDevice(3, "HDMI")};
    TWavePlayer player(backend);
    ASSERT_EQ(player.DeviceCount(), 2);
    EXPECT_EQ(player.DeviceName(0), "Speakers");
    EXPECT_EQ(player.CurrentDevice(), 0);
    EXPECT_EQ(player.DeviceName(2), "");
    EXPECT_EQ(player.IndexOfDevice("HDMI"), 1);
    EXPECT_EQ(player.IndexOfDevice("hdmi"), -1);
    EXPECT_EQ(player.IndexOfDevice("Nothing"), -1);

    EXPECT_TRUE(player.SelectByName("HDMI"));
    EXPECT_FALSE(player.SelectByName("Speakers "));
    EXPECT_EQ(player.CurrentDevice(), 1);
    player.SelectDevice(5);  // outside: ignored
    EXPECT_EQ(player.CurrentDevice(), 1);

    player.RefreshDevices();
    EXPECT_EQ(player.DeviceName(0), " Speakers  ");
    EXPECT_EQ(player.CurrentDevice(), 1);
    EXPECT_EQ(player.Open(), 0);
    EXPECT_EQ(backend.lastDeviceId, 3);
}

TEST_F(WPlayerTest, OpenQueriesTheFormatFirstAndReturnsDeviceCodes) {
    backend.outputs = {};
    TWavePlayer none(backend);
    EXPECT_EQ(none.CurrentDevice(), -1);
    EXPECT_EQ(none.Open(), -1);

    backend.outputs = {UsableDevice(5, "Speakers")};
    struct Case {
        int query, open, start;
        int result;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases = {
        {32, 0, 0, 32, {"query"}},
        {0, 4, 0, 4, {"query", "open"}},
        {0, 0, -9996, -9996, {"query", "open", "start", "close"}},
        {0, 0, 0, 0, {"query", "open", "start"}},
    };
    for (const Case& c : cases) {
        backend.calls.clear();
        backend.queryResult = c.query;
        backend.openResult = c.open;
        backend.startResult = c.start;
        TWavePlayer player(backend);
        player.SamplesPerSec = 22050;
        player.Channels = 1;
        player.BitsPerSample = 8;
        EXPECT_EQ(player.Open(), c.result);
        EXPECT_EQ(player.Active(), c.result == 0);
        EXPECT_EQ(backend.calls, c.calls);
        EXPECT_EQ(backend.lastFormat, common::MakePcmFormat(22050, 1, 8));
        if (c.result == 0) {
            EXPECT_EQ(player.Open(), -1);  // already open
            player.Close();
        }
    }
}

TEST_F(WPlayerTest, EveryBlockIsOneDeviceBufferReportedInOrderWhenPlayed) {
    auto player = MakeOpenPlayer();
    player->SetVolume(50);
    ASSERT_TRUE(Write(*player, Samples16({100, -100, 7, -3})));
    ASSERT_TRUE(Write(*player, Samples16({2000, 2000})));
    ASSERT_TRUE(Write(*player, Samples16({1, 1})));
    ASSERT_EQ(backend.held.size(), 3u);
    EXPECT_EQ(backend.held[0]->data, Samples16({50, -50, 3, -1}));
    EXPECT_DOUBLE_EQ(player->Buffered(), 16.0 / 176400.0);

    backend.PlayNext();
    backend.PlayNext();
    player->Poll();
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played[0].written, Samples16({100, -100, 7, -3}));
    EXPECT_EQ(played[0].played, Samples16({50, -50, 3, -1}));
    EXPECT_EQ(played[1].written, Samples16({2000, 2000}));
    EXPECT_DOUBLE_EQ(player->Buffered(), 4.0 / 176400.0);
    EXPECT_EQ(player->QueuedBlocks(), 1);
}

TEST_F(WPlayerTest, RefusedBlockIsLostAndNothingElseChanges) {
    auto player = MakeOpenPlayer();
    ASSERT_TRUE(Write(*player, std::vector<uint8_t>(4000, 0)));
    backend.acceptsLeft = 0;
    backend.addResult = 7;
    EXPECT_FALSE(Write(*player, std::vector<uint8_t>(4000, 0)));
    EXPECT_EQ(player->QueuedBlocks(), 1);
    EXPECT_DOUBLE_EQ(player->Buffered(), 4000.0 / 176400.0);

    EXPECT_FALSE(player->Write(nullptr, 4));
    EXPECT_FALSE(Write(*player, {}));
    player->Close();
    backend.acceptsLeft = 10;
    EXPECT_FALSE(Write(*player, std::vector<uint8_t>(4, 0)));  // closed
}

TEST(WPlayerVolumeTest, ScalesTowardZeroAndClamps) {
    FakeWaveBackend backend;
    backend.outputs = {UsableDevice(0, "Out")};
    struct Case {
        int bits;
        int volume;
        std::vector<uint8_t> in;
        std::vector<uint8_t> out;
    };
    const std::vector<Case> cases = {
        {16, 50, Samples16({-3, 3, 0, -32768}), Samples16({-1, 1, 0, -16384})},
        {16, 100, Samples16({32767, -32768}), Samples16({32767, -32768})},
        {16, 0, Samples16({1234, -1}), Samples16({0, 0})},
        {8, 50, {0, 255, 128, 129}, {64, 191, 128, 128}},
        {8, 100, {0, 255}, {0, 255}},
    };
    for (const Case& c : cases) {
        TWavePlayer player(backend);
        player.BitsPerSample = static_cast<uint8_t>(c.bits);
        ASSERT_EQ(player.Open(), 0);
        player.SetVolume(c.volume);
        ASSERT_TRUE(player.Write(c.in.data(), static_cast<int32_t>(c.in.size())));
        EXPECT_EQ(backend.held.back()->data, c.out) << c.bits << " bits at " << c.volume;
        player.Close();
    }
    TWavePlayer player(backend);
    player.SetVolume(150);
    EXPECT_EQ(player.Volume(), 100);
    player.SetVolume(-5);
    EXPECT_EQ(player.Volume(), 0);
}

TEST_F(WPlayerTest, VolumeChangeRescalesQueuedBlocksTheDeviceHasNotBegun) {
    auto player = MakeOpenPlayer();
    ASSERT_TRUE(Write(*player, Samples16({1000, 1000})));
    player->SetVolume(50);  // a single queued block keeps its volume
    EXPECT_EQ(backend.held[0]->data, Samples16({1000, 1000}));

    ASSERT_TRUE(Write(*player, Samples16({1000, -1000})));
    ASSERT_TRUE(Write(*player, Samples16({400, 400})));
    backend.BeginNext();  // the device is playing the first one
    player->SetVolume(10);
    EXPECT_EQ(backend.held[0]->data, Samples16({1000, 1000}));
    EXPECT_EQ(backend.held[1]->data, Samples16({100, -100}));
    EXPECT_EQ(backend.held[2]->data, Samples16({40, 40}));

    backend.PlayNext();
    backend.PlayNext();
    player->Poll();
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played[1].written, Samples16({1000, -1000}));  // the kept copy is untouched
    EXPECT_EQ(played[1].played, Samples16({100, -100}));
}

TEST_F(WPlayerTest, CloseDropsEverythingQueuedWithoutReportingIt) {
    auto player = MakeOpenPlayer();
    ASSERT_TRUE(Write(*player, Samples16({1, 2})));
    ASSERT_TRUE(Write(*player, Samples16({3, 4})));
    backend.PlayNext();  // finished but not yet collected
    player->MeasurePeaks(Samples16({500, 500}).data(), 4, true);
    player->Close();
    EXPECT_THAT(backend.calls, ElementsAre("query", "open", "start", "reset", "close"));
    EXPECT_FALSE(player->Active());
    EXPECT_EQ(player->QueuedBlocks(), 0);
    EXPECT_DOUBLE_EQ(player->Buffered(), 0.0);
    EXPECT_EQ(player->PeakLeft(), 0);
    player->Poll();
    EXPECT_TRUE(played.empty());
}

TEST_F(WPlayerTest, HandlerMayClosePlayerDuringPoll) {
    auto player = MakeOpenPlayer();
    int reports = 0;
    player->OnBlockPlayed = [&](TWavePlayer& sender, const uint8_t*, int32_t, const uint8_t*) {
        ++reports;
        sender.Close();
    };
    ASSERT_TRUE(Write(*player, Samples16({1, 2})));
    ASSERT_TRUE(Write(*player, Samples16({3, 4})));
    backend.PlayNext();
    backend.PlayNext();
    player->Poll();
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(backend.open);
    EXPECT_DOUBLE_EQ(player->Buffered(), 0.0);
}

TEST_F(WPlayerTest, PollWithoutHandlerMeasuresThePlayedBlocks) {
    auto player = MakeOpenPlayer();
    player->OnBlockPlayed = nullptr;
    player->SetVolume(50);
    ASSERT_TRUE(Write(*player, Samples16({2000, -4000})));
    ASSERT_TRUE(Write(*player, Samples16({6000, 100})));
    ASSERT_TRUE(Write(*player, Samples16({10, 10})));
    backend.PlayNext();
    backend.PlayNext();
    player->Poll();  // scaled data; the second block raises left only
    EXPECT_EQ(player->PeakLeft(), 3000);
    EXPECT_EQ(player->PeakRight(), 1999);
    backend.PlayNext();
    player->Poll();  // a new poll starts afresh
    EXPECT_EQ(player->PeakLeft(), 5);
}

TEST_F(WPlayerTest, PeaksAndLevels) {
    TWavePlayer player(backend);
    EXPECT_DOUBLE_EQ(player.LeftLevel(), -90.3);
    player.MeasurePeaks(Samples16({0, 0, 0, 0}).data(), 8, true);
    EXPECT_DOUBLE_EQ(player.LeftLevel(), -90.3);
    EXPECT_DOUBLE_EQ(player.RightLevel(), -90.3);

    player.MeasurePeaks(Samples16({-32768, 32767}).data(), 4, true);
    EXPECT_EQ(player.PeakLeft(), 32767);
    EXPECT_NEAR(player.RightLevel(), -0.000265, 0.000001);

    player.Channels = 1;  // mono: the loudest sample, odd position included
    player.MeasurePeaks(Samples16({10, -20, 300, 7}).data(), 8, true);
    EXPECT_EQ(player.PeakLeft(), 300);
    player.MeasurePeaks(Samples16({10, -2000}).data(), 4, true);
    EXPECT_EQ(player.PeakLeft(), 1999);
    EXPECT_EQ(player.PeakRight(), 1999);
    player.MeasurePeaks(Samples16({5, 5}).data(), 4, false);  // later block: keeps the larger
    EXPECT_EQ(player.PeakLeft(), 1999);

    player.BitsPerSample = 8;
    player.Channels = 2;
    const std::vector<uint8_t> bytes = {0, 192};
    player.MeasurePeaks(bytes.data(), 2, true);
    EXPECT_EQ(player.PeakLeft(), 127);
    EXPECT_EQ(player.PeakRight(), 64);
    EXPECT_DOUBLE_EQ(player.RightLevel(), 20.0 * std::log10(64.0 / 128.0));
}

// The real path: two seconds through the virtual WAV output, on a virtual clock.
TEST(WPlayerVirtualTest, TwoSecondsPlayedThroughTheWavOutputComeBackInTheFile) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("brivanta_wplayer_" + std::to_string(::getpid()) + ".wav"))
                                 .string();
    common::VirtualClock clock;
    audio::VirtualDeviceConfig config;
    config.wavOutPath = path;
    audio::VirtualBackend backend(clock, config);
    TWavePlayer player(backend);
    ASSERT_TRUE(player.SelectByName("Virtual WAV output"));
    ASSERT_EQ(player.Open(), 0);

    std::vector<int16_t> source(2 * 88200);
    for (size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<int16_t>((i * 7919) % 65536 - 32768);
    }
    for (size_t offset = 0; offset < source.size(); offset += 2048) {  // blocks of 4096 bytes
        const size_t count = std::min<size_t>(2048, source.size() - offset);
        ASSERT_TRUE(player.Write(reinterpret_cast<const uint8_t*>(&source[offset]),
                                 static_cast<int32_t>(count * 2)));
    }
    EXPECT_NEAR(player.Buffered(), 2.0, 1e-9);

    int reported = 0;
    player.OnBlockPlayed = [&](TWavePlayer&, const uint8_t*, int32_t, const uint8_t*) {
        ++reported;
    };
    clock.Advance(1000);
    player.Poll();
    EXPECT_NEAR(player.Buffered(), 1.0, 0.03);
    {
        // The file is readable while it grows.
        audio::WavReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(path, error)) << error;
        std::vector<int16_t> half(2 * 44100);
        EXPECT_EQ(reader.ReadFrames(half.data(), 44100), 44100u);
        EXPECT_EQ(reader.ReadFrames(half.data(), 44100), 0u);
    }
    clock.Advance(1000);
    player.Poll();
    EXPECT_DOUBLE_EQ(player.Buffered(), 0.0);
    EXPECT_EQ(reported, 87);  // 86 full blocks and the rest
    player.Close();

    audio::WavReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(path, error)) << error;
    EXPECT_EQ(reader.SampleRate(), 44100u);
    EXPECT_EQ(reader.Channels(), 2);
    std::vector<int16_t> back(source.size() + 100);
    EXPECT_EQ(reader.ReadFrames(back.data(), back.size() / 2), 88200u);
    back.resize(source.size());
    EXPECT_EQ(back, source);
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace brivanta::client
