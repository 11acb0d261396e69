#include "server/MainServer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <future>
#include <thread>

#include "TempDir.h"
#include "audio/SystemDevices.h"
#include "client/StreamLogin.h"
#include "common/Utils.h"
#include "protocol/StreamTestKit.h"
#include "server/SettingChanges.h"

namespace brivanta::server {
namespace {

using protocol::TBlockHeader;

constexpr char kMp3Driver[] = "MPEG Layer-3 (LAME)";
constexpr int kMp3Tag = 85;
constexpr int kMp3At128 = 11;
constexpr int kMp3At64 = 7;

std::string SettingsText(const std::string& device, int formatIndex, int delay = 0,
                         const std::string& moreSettings = "") {
    return "[setting]\nName=Test FM\nDevice=" + device +
           "\nPort=0\nAuto=1\nDelay=" + std::to_string(delay) + "\nPassword=\n" + moreSettings +
           "[Codec]\nDriver=" + kMp3Driver + "\nTag=" + std::to_string(kMp3Tag) +
           "\nFormatIndex=" + std::to_string(formatIndex) + "\n";
}

// A listener logged in on the server's stream port.
struct Listener {
    common::TcpSocket socket;
    client::ServerAnnouncement announcement;

    explicit Listener(uint16_t port) {
        EXPECT_EQ(socket.Connect("127.0.0.1", port, 2000), 0);
        socket.SetReadTimeout(3000);
        EXPECT_TRUE(client::ReadServerAnnouncement(socket, announcement).ok);
        EXPECT_TRUE(
            client::WriteClientAnswer(socket, "", protocol::TClientStart{2000, 0xFFFF}, true).ok);
    }

    // The payloads of the next music blocks, checking that their numbers follow on.
    std::vector<protocol::Bytes> MusicBlocks(size_t count) {
        std::vector<protocol::Bytes> blocks;
        int lastSeq = -1;
        while (blocks.size() < count) {
            TBlockHeader header;
            protocol::Bytes payload;
            if (client::ReadStreamBlock(socket, header, payload) != 0) {
                ADD_FAILURE() << "stream ended after " << blocks.size() << " blocks";
                break;
            }
            if (header.type != protocol::btMusic) {
                continue;
            }
            if (lastSeq >= 0) {
                EXPECT_EQ(header.seq, protocol::NextSeq(static_cast<uint16_t>(lastSeq)));
            }
            lastSeq = header.seq;
            blocks.push_back(std::move(payload));
        }
        return blocks;
    }
};

// Decodes codec blocks the way a client does, from the announced header alone.
std::vector<int16_t> Decode(const protocol::TStreamParams& params,
                            const std::vector<protocol::Bytes>& blocks) {
    audio::TACM decoder(audio::TACM::kDecode, static_cast<int>(params.format.nSamplesPerSec),
                        params.format.nChannels, 0, true);
    const auto formats = decoder.FindFormats(params.format);
    EXPECT_FALSE(formats.empty());
    if (formats.empty()) {
        return {};
    }
    std::vector<int16_t> pcm;
    decoder.OnHaveData = [&](audio::TACM&, const uint8_t* data, uint32_t size) {
        const auto* samples = reinterpret_cast<const int16_t*>(data);
        pcm.insert(pcm.end(), samples, samples + size / 2);
    };
    EXPECT_EQ(decoder.Open(*formats.front()), 0);
    for (const auto& block : blocks) {
        decoder.Convert(block.data(), block.size());
    }
    decoder.Close();
    return pcm;
}

// The frequency of the left channel of interleaved stereo, over the whole
// cycles between the first and the last (so the codec's lead-in does not
// count); a hysteresis keeps codec noise near zero from adding crossings.
double LeftFrequency(const std::vector<int16_t>& pcm, int rate) {
    constexpr int kHysteresis = 1000;
    int cycles = 0;
    size_t first = 0;
    size_t last = 0;
    bool below = false;
    for (size_t i = 0; i < pcm.size() / 2; ++i) {
        const int sample = pcm[2 * i];
        if (sample < -kHysteresis) {
            below = true;
        } else if (below && sample > kHysteresis) {
            below = false;
            first = cycles++ == 0 ? i : first;
            last = i;
        }
    }
    return cycles < 2
               ? 0.0
               : (cycles - 1) * static_cast<double>(rate) / static_cast<double>(last - first);
}

struct MainServerTest : ::testing::Test {
    test::TempDir dir;
    const std::string settingsPath = dir.Path("BrivantaServer.ini");
    common::SystemClock clock;
    common::EventLoop loop{clock};
    std::unique_ptr<audio::IWaveBackend> backend = audio::MakeSystemBackend(clock, {});
    std::unique_ptr<TBrivantaServer> engine;
    std::thread loopThread;

    void StartServer(const std::string& settings) {
        std::ofstream(settingsPath) << settings;
        TBrivantaServer::Options options;
        options.settingsPath = settingsPath;
        options.bindAddress = "127.0.0.1";
        engine = std::make_unique<TBrivantaServer>(loop, *backend, options);
        loop.Post([this] { engine->Start(); });
        loopThread = std::thread([this] { loop.Run(); });
    }
    // Runs fn on the engine's loop thread and waits for it.
    template <typename Fn>
    auto OnLoop(Fn fn) {
        std::packaged_task<decltype(fn())()> task(fn);
        auto result = task.get_future();
        loop.Post([&task] { task(); });
        return result.get();
    }
    void TearDown() override {
        if (loopThread.joinable()) {
            OnLoop([this] { engine->Close(); });
            loop.Quit();
            loopThread.join();
        }
    }
    bool WaitOnline(bool online) {
        return testkit::WaitUntil([&] { return engine->State().Online == online; });
    }
};

TEST_F(MainServerTest, StreamsTheToneInConsecutiveBlocks) {
    StartServer(SettingsText("Virtual tone", kMp3At128));
    ASSERT_TRUE(WaitOnline(true));
    const TServerState state = engine->State();
    EXPECT_EQ(state.StatusText, "Server online");
    EXPECT_EQ(state.LabDevice, "Virtual tone");
    EXPECT_EQ(state.LabCodec, "128 kbit/s, 44100 Hz, Stereo");
    EXPECT_EQ(state.Caption.rfind("Test FM : Brivanta (ver.", 0), 0u);

    Listener listener(OnLoop([&] { return engine->StreamPort(); }));
    EXPECT_EQ(listener.announcement.params.driverName, kMp3Driver);
    const auto blocks = listener.MusicBlocks(40);  // about a second
    const auto pcm = Decode(listener.announcement.params, blocks);
    ASSERT_GT(pcm.size(), 44100u);
    EXPECT_NEAR(LeftFrequency(pcm, 44100), 1000.0, 10.0);
}

TEST_F(MainServerTest, StopsAndRunsAgain) {
    StartServer(SettingsText("Virtual tone", kMp3At128));
    ASSERT_TRUE(WaitOnline(true));
    OnLoop([&] { engine->Stop(); });
    EXPECT_FALSE(engine->State().Online);
    EXPECT_EQ(engine->State().StatusText, "Server down");
    EXPECT_EQ(engine->NetSender().QueueSize(), 0u);
    OnLoop([&] { engine->Run(); });
    ASSERT_TRUE(WaitOnline(true));
    Listener listener(OnLoop([&] { return engine->StreamPort(); }));
    EXPECT_EQ(listener.MusicBlocks(5).size(), 5u);
}

TEST_F(MainServerTest, ACodecChangeRestartsTheStream) {
    StartServer(SettingsText("Virtual tone", kMp3At128));
    ASSERT_TRUE(WaitOnline(true));
    std::ofstream(settingsPath) << SettingsText("Virtual tone", kMp3At64);
    OnLoop([&] { engine->ReloadSettings(); });
    ASSERT_TRUE(WaitOnline(true));
    EXPECT_EQ(engine->State().LabCodec, "64 kbit/s, 44100 Hz, Stereo");
    Listener listener(OnLoop([&] { return engine->StreamPort(); }));
    EXPECT_EQ(listener.announcement.params.formatName, "64 kbit/s, 44100 Hz, Stereo");
    const auto pcm = Decode(listener.announcement.params, listener.MusicBlocks(40));
    EXPECT_NEAR(LeftFrequency(pcm, 44100), 1000.0, 10.0);
}

TEST_F(MainServerTest, WaitsForAMissingDevice) {
    StartServer(SettingsText("No such card", kMp3At128));
    ASSERT_TRUE(
        testkit::WaitUntil([&] { return engine->State().LabDevice == "Wait for No such card"; }));
    EXPECT_FALSE(engine->State().DeviceOk);
    EXPECT_FALSE(engine->State().Online);
    // The device appears (here: the setting now names one that exists).
    std::ofstream(settingsPath) << SettingsText("Virtual tone", kMp3At128);
    TSetting fixed;
    bool author = false;
    ASSERT_TRUE(ReadSettings(settingsPath, fixed, author).ok);
    OnLoop([&] { engine->ApplySettings(fixed, scDevice); });
    ASSERT_TRUE(WaitOnline(true));
}

TEST_F(MainServerTest, LanDataRidesInTheStreamWithItsType) {
    StartServer(
        SettingsText("Virtual tone", kMp3At128, 0,
                     "ExtMode=1\nExtPort=0\nExtPass=" + common::ScramblePassword("pw") + "\n"));
    ASSERT_TRUE(WaitOnline(true));
    Listener listener(OnLoop([&] { return engine->StreamPort(); }));
    common::TcpSocket sender;
    ASSERT_EQ(sender.Connect("127.0.0.1", OnLoop([&] { return engine->ExternalPort(); }), 2000), 0);
    sender.SetReadTimeout(3000);
    char greeting[10];
    ASSERT_EQ(sender.ReadExactly(greeting, sizeof greeting), 0);
    const uint8_t login[] = {'p', 'w', '\n', 0x04, 0x00, 0x05, 'a', 'b', 'c'};
    ASSERT_EQ(sender.WriteAll(login, sizeof login), 0);
    for (int block = 0; block < 200; ++block) {
        TBlockHeader header;
        protocol::Bytes payload;
        ASSERT_EQ(client::ReadStreamBlock(listener.socket, header, payload), 0);
        if (header.type == 5) {
            EXPECT_EQ(payload, (protocol::Bytes{'a', 'b', 'c'}));
            return;
        }
    }
    ADD_FAILURE() << "no block of type 5 arrived";
}

// The start-up delay on a virtual clock: no waiting in real time.
TEST(MainServerDelay, CountsDownAndEndsEarlyOnAClick) {
    test::TempDir dir;
    const std::string path = dir.Path("BrivantaServer.ini");
    std::ofstream(path) << SettingsText("No such card", kMp3At128, 10);
    common::VirtualClock clock;
    common::EventLoop loop(clock);
    auto backend = audio::MakeSystemBackend(clock, {});
    TBrivantaServer engine(loop, *backend, {path, "127.0.0.1", {}, {}});
    engine.Start();
    loop.AdvanceVirtual(clock, 40);  // the first tick reads the settings
    EXPECT_FALSE(engine.State().RunVisible);
    EXPECT_TRUE(engine.State().StatusClickable);
    loop.AdvanceVirtual(clock, 40);
    EXPECT_EQ(engine.State().StatusText, "Delay 10.0 s");
    loop.AdvanceVirtual(clock, 2500);
    EXPECT_EQ(engine.State().StatusText, "Delay 7.5 s");
    engine.LStatusClick();
    loop.AdvanceVirtual(clock, 40);
    EXPECT_EQ(engine.State().StatusText, "");
    EXPECT_TRUE(engine.State().RunVisible);
    EXPECT_FALSE(engine.State().StatusClickable);
    loop.AdvanceVirtual(clock, 40);  // now waiting for the device
    EXPECT_EQ(engine.State().LabDevice, "Wait for No such card");
    engine.Close();
}

}  // namespace
}  // namespace brivanta::server
