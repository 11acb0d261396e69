// A real server engine and a real client engine streaming to each other over
// loopback on virtual devices, both in real time on their own loop threads.

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

#include "ClientTestKit.h"
#include "StreamRelay.h"
#include "TempDir.h"
#include "audio/VirtualDevices.h"
#include "audio/WavReader.h"
#include "audio/WavWriter.h"
#include "client/MainClient.h"
#include "protocol/StreamTestKit.h"
#include "server/MainServer.h"

namespace brivanta::client {
namespace {

using brivanta::testkit::WaitUntil;

std::string ServerSettings(const std::string& device, const std::string& driver, int tag,
                           int index) {
    return "[setting]\nName=Test FM\nDevice=" + device +
           "\nPort=0\nExtPort=0\nAuto=1\nDelay=0\nPassword=\n[Codec]\nDriver=" + driver +
           "\nTag=" + std::to_string(tag) + "\nFormatIndex=" + std::to_string(index) + "\n";
}

// Runs fn on a loop's thread and waits for its result.
template <typename Fn>
auto OnLoop(common::EventLoop& loop, Fn fn) {
    std::packaged_task<decltype(fn())()> task(fn);
    auto result = task.get_future();
    loop.Post([&task] { task(); });
    return result.get();
}

// Waits up to `seconds` for a condition (the 5 s of WaitUntil are too short
// for some of these waits).
bool WaitFor(double seconds, const std::function<bool()>& done) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(int(seconds * 1000));
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

struct ClientServerTest : ::testing::Test {
    test::TempDir dir;
    common::SystemClock clock;
    audio::VirtualDeviceConfig config{dir.Path("source.wav"), dir.Path("played.wav"), 0.0};
    audio::VirtualBackend devices{clock, config};

    common::EventLoop serverLoop{clock};
    std::unique_ptr<server::TBrivantaServer> server;
    std::thread serverThread;
    brivanta::testkit::LogSink serverLog;

    common::EventLoop clientLoop{clock};
    NullClientLink link;
    testkit::TimedLines lines{clock};
    TClientLog log{clock, lines.Sink()};
    std::unique_ptr<TBrivantaClient> client;
    std::thread clientThread;

    uint16_t StartServer(const std::string& settings) {
        const std::string path = dir.Path("BrivantaServer.ini");
        std::ofstream(path) << settings;
        server::TBrivantaServer::Options options;
        options.settingsPath = path;
        options.bindAddress = "127.0.0.1";
        options.onLogShown = [this](const server::TLogEntry& entry) {
            serverLog.Writer()(entry.Text);
        };
        server = std::make_unique<server::TBrivantaServer>(serverLoop, devices, options);
        serverLoop.Post([this] { server->Start(); });
        serverThread = std::thread([this] { serverLoop.Run(); });
        EXPECT_TRUE(WaitUntil([&] { return server->State().Online; }));
        return OnLoop(serverLoop, [&] { return server->StreamPort(); });
    }

    void StartClient(TSetting settings) {
        client = std::make_unique<TBrivantaClient>(
            clientLoop, testkit::MakeEnvironment(clock, devices, link, log));
        client->FormCreate(settings);
        clientThread = std::thread([this] { clientLoop.Run(); });
    }

    void StopClient() {
        if (clientThread.joinable()) {
            OnLoop(clientLoop, [&] {
                client->FormClose();
                return 0;
            });
            clientLoop.Quit();
            clientThread.join();
        }
    }

    void TearDown() override {
        StopClient();
        if (serverThread.joinable()) {
            OnLoop(serverLoop, [&] {
                server->Close();
                return 0;
            });
            serverLoop.Quit();
            serverThread.join();
        }
    }

    static TSetting ClientSettings(const std::string& device, uint16_t port) {
        TSetting settings = testkit::DefaultSettings();
        settings.Device = device;
        settings.Port = port;
        settings.Mode = 1;
        settings.Buffer = 1.0;
        return settings;
    }
};

TEST_F(ClientServerTest, TheClientComesOnlineAndItsBufferSettlesInTheBand) {
    const uint16_t port =
        StartServer(ServerSettings("Virtual tone", "MPEG Layer-3 (LAME)", 85, 11));
    StartClient(ClientSettings("Virtual null output", port));
    ASSERT_TRUE(WaitUntil([&] { return client->Status().state == csOnline; }));
    EXPECT_TRUE(serverLog.WaitFor("Stream open for 127.0.0.1"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // past the start

    // The queue as sampled over 1.5 s; each sample may sit a block above or
    // below the band, the average may not.
    double sum = 0;
    int samples = 0;
    for (; samples < 75; ++samples) {
        sum += client->Status().buffered;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const TClientStatus status = client->Status();
    const TBufferLevels levels = BufferToByte(10);
    EXPECT_GT(sum / samples, levels.Low - 0.1);
    EXPECT_LT(sum / samples, levels.High + 0.1);
    EXPECT_EQ(status.state, csOnline);
    EXPECT_EQ(status.stateText, "Online");
    EXPECT_EQ(status.connects, 1u);
    EXPECT_EQ(status.correctedChunks, 0u);  // steady: nothing was resampled
    EXPECT_EQ(status.droppedBytes, 0u);
    EXPECT_EQ(status.codec, "MPEG Layer-3 (LAME)");
    EXPECT_EQ(status.bitrate, "128 kbit/s, 44100 Hz, Stereo");
    EXPECT_GT(status.nextSeq, 0);
    EXPECT_NEAR(status.leftDb, -12.0, 1.0);  // the tone at -12 dBFS
}

TEST_F(ClientServerTest, StopLetsThePlayerRunDryAndPlayMeanwhileResumes) {
    const uint16_t port =
        StartServer(ServerSettings("Virtual tone", "MPEG Layer-3 (LAME)", 85, 11));
    TSetting settings = ClientSettings("Virtual null output", port);
    settings.Buffer = 3.0;
    StartClient(settings);
    ASSERT_TRUE(WaitUntil([&] { return client->Status().state == csOnline; }));
    ASSERT_TRUE(WaitUntil([&] { return client->Status().nextSeq > 0; }));
    client->RequestStop();
    ASSERT_TRUE(WaitUntil([&] { return client->Status().state == csStop; }));
    EXPECT_TRUE(serverLog.WaitFor("Disconnect 127.0.0.1"));
    EXPECT_GT(client->Status().buffered, 2.0);  // still playing what it holds
    EXPECT_NE(client->Status().nextSeq, -1);

    client->RequestPlay();
    EXPECT_TRUE(serverLog.WaitFor("Restore connect 127.0.0.1"));
    EXPECT_TRUE(WaitUntil([&] { return client->Status().connects == 2; }));
    EXPECT_EQ(lines.Count("Manual stop"), 1u);
    EXPECT_EQ(lines.Count("Restore connection"), 1u);
    EXPECT_EQ(lines.Count("Start player"), 0u);  // autoplay started the first time
}

TEST_F(ClientServerTest, AStoppedPlayerRunsDryAndCloses) {
    const uint16_t port =
        StartServer(ServerSettings("Virtual tone", "MPEG Layer-3 (LAME)", 85, 11));
    TSetting settings = ClientSettings("Virtual null output", port);
    settings.Buffer = 0.3;
    StartClient(settings);
    ASSERT_TRUE(WaitUntil([&] { return client->Status().nextSeq > 0; }));
    client->RequestStop();
    // Once empty the player is finished: a later Play starts afresh.
    ASSERT_TRUE(WaitUntil([&] { return client->Status().nextSeq == -1; }));
    EXPECT_EQ(client->Status().buffered, 0.0);
    client->RequestPlay();
    EXPECT_TRUE(WaitUntil([&] { return client->Status().connects == 2; }));
    EXPECT_EQ(lines.Count("Start player"), 1u);
}

// Frame k of the source carries k in its two samples (low and high half), so
// every frame played can be traced back to its place in the source.
void WriteCountingSource(const std::string& path, uint32_t frames) {
    audio::WavWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Create(path, 44100, 2, error)) << error;
    std::vector<int16_t> samples;
    for (uint32_t k = 1; k <= frames; ++k) {
        samples.push_back(static_cast<int16_t>(k & 0xFFFF));
        samples.push_back(static_cast<int16_t>(k >> 16));
    }
    ASSERT_TRUE(writer.Append(samples.data(), samples.size()));
}

// The frame numbers played, from the first frame of the source to the last.
std::vector<uint32_t> PlayedFrames(const std::string& path) {
    audio::WavReader reader;
    std::string error;
    EXPECT_TRUE(reader.Open(path, error)) << error;
    std::vector<uint32_t> frames;
    int16_t frame[2];
    while (reader.ReadFrames(frame, 1) == 1) {
        const uint32_t k =
            static_cast<uint16_t>(frame[0]) | (static_cast<uint32_t>(frame[1]) << 16);
        if (k != 0) {
            frames.push_back(k);
        } else if (!frames.empty()) {
            break;  // the source has ended; silence follows
        }
    }
    return frames;
}

TEST_F(ClientServerTest, AfterACutConnectionTheClientResumesWithoutLosingASample) {
    WriteCountingSource(config.wavInPath, 44100 * 8);
    const uint16_t port = StartServer(ServerSettings("Virtual WAV input", "PCM", 1, 0));
    testkit::StreamRelay relay(port);
    StartClient(ClientSettings("Virtual WAV output", relay.Port()));
    ASSERT_TRUE(WaitUntil([&] { return client->Status().state == csOnline; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));

    const int nextSeqBefore = client->Status().nextSeq;
    relay.DropAll();
    ASSERT_TRUE(WaitFor(10, [&] { return client->Status().connects == 2; }));
    EXPECT_TRUE(serverLog.WaitFor("Restore connect 127.0.0.1"));
    EXPECT_GE(lines.Count("Disconnect from server"), 1u);
    ASSERT_TRUE(WaitFor(10, [&] { return client->Status().nextSeq > nextSeqBefore + 20; }));
    // The audio received after the cut is heard about a buffer later.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const TClientStatus status = client->Status();
    StopClient();

    const auto frames = PlayedFrames(config.wavOutPath);
    ASSERT_GT(frames.size(), 44100u * 2);  // 1.5 s before the cut, then 1 s after it
    size_t repeated = 0;
    size_t skipped = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        const int64_t step = int64_t(frames[i]) - int64_t(frames[i - 1]);
        ASSERT_GE(step, 0) << "frame " << i << " goes back in the source";
        ASSERT_LE(step, 2) << "frames lost after frame " << i;
        repeated += step == 0;
        skipped += step == 2;
    }
    // Only the rate correction repeats or skips frames: at most 32 per chunk.
    EXPECT_LE(repeated + skipped, status.correctedChunks * 32);
    if (status.correctedChunks == 0) {
        EXPECT_EQ(frames.back() - frames.front() + 1, frames.size());
    }
    EXPECT_EQ(status.droppedBytes, 0u);
}

}  // namespace
}  // namespace brivanta::client
