// The client engine on a virtual clock: the test drives its loop, so every
// wait of the main cycle and the back-off is exact; sockets are real.

#include "client/MainClient.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "ClientTestKit.h"
#include "TempDir.h"
#include "audio/DeviceFake.h"
#include "audio/VirtualDevices.h"
#include "protocol/StreamTestKit.h"
#include "server/NetContact.h"
#include "server/StreamServer.h"

namespace brivanta::client {
namespace {

using testkit::Gaps;

// A loopback port that nothing listens on.
uint16_t ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

struct EngineFixture : ::testing::Test {
    common::VirtualClock clock{100000};
    common::EventLoop loop{clock};
    testkit::RecordingLink link;
    testkit::TimedLines lines{clock};
    TClientLog log{clock, lines.Sink()};
    TSetting settings = testkit::DefaultSettings();
    std::unique_ptr<TBrivantaClient> client;
    std::vector<common::DayCount> systemTimeSet;

    void Create(audio::IWaveBackend& devices) {
        auto environment = testkit::MakeEnvironment(clock, devices, link, log);
        environment.setSystemTime = [this](common::DayCount days) {
            systemTimeSet.push_back(days);
        };
        client = std::make_unique<TBrivantaClient>(loop, environment);
        client->FormCreate(settings);
    }
    void Advance(int64_t ms) { loop.AdvanceVirtual(clock, ms); }
    // Runs cycles until the state is reached (at most `ms`); true if it was.
    bool AdvanceUntil(TClientState state, int64_t ms = 2000) {
        for (int64_t t = 0; t < ms; t += TBrivantaClient::kCyclePauseMs) {
            if (client->Status().state == state) {
                return true;
            }
            Advance(TBrivantaClient::kCyclePauseMs);
        }
        return client->Status().state == state;
    }
    void TearDown() override {
        if (client) {
            client->FormClose();
        }
    }
};

// The client on the virtual null output, in autoplay mode.
struct AutoplayFixture : EngineFixture {
    audio::VirtualBackend devices{clock, audio::VirtualDeviceConfig{}};
    void SetUp() override {
        settings.Device = "Virtual null output";
        settings.Mode = 1;
    }
    void Create() { EngineFixture::Create(devices); }
};

using BackOffTest = AutoplayFixture;

TEST_F(BackOffTest, ConsecutiveConnectFailuresWaitOneTenthMoreEachUpToFiveSeconds) {
    settings.Port = ClosedPort();
    Create();
    const std::string refused = common::SocketErrorText(ECONNREFUSED);
    Advance(190000);
    const auto gaps = Gaps(lines.TimesOf(refused));
    ASSERT_GE(gaps.size(), 60u);
    for (size_t i = 0; i < 60; ++i) {
        // Failure i waits min(i, 50) tenths; the cycle that sees the wait over
        // moves to Connect and the next one connects, 10 ms later.
        const int64_t wait = std::min<int64_t>(static_cast<int64_t>(i), 50) * 100;
        EXPECT_EQ(gaps[i], std::max<int64_t>(wait, 10) + 10) << "after failure " << i;
    }
    EXPECT_EQ(lines.Count("Client ready"), 0u);  // autoplay connects without waiting
    EXPECT_EQ(client->Status().state, csOffline);
    EXPECT_EQ(client->Status().retrySteps, 50);
}

TEST_F(BackOffTest, AManualStopEndsTheAttemptsAndPlayStartsTheSeriesAgain) {
    settings.Port = ClosedPort();
    Create();
    const std::string refused = common::SocketErrorText(ECONNREFUSED);
    Advance(5000);
    client->RequestStop();
    Advance(10);
    const size_t failures = lines.Count(refused);
    Advance(10000);
    EXPECT_EQ(lines.Count(refused), failures);
    EXPECT_EQ(client->Status().state, csStop);
    EXPECT_EQ(lines.Count("Manual stop"), 1u);

    client->RequestPlay();
    Advance(1000);
    EXPECT_EQ(lines.Count("Start player"), 1u);
    const auto times = lines.TimesOf(refused);
    const std::vector<int64_t> restarted(times.begin() + static_cast<long>(failures), times.end());
    EXPECT_EQ(Gaps(restarted)[0], 20) << "the series starts again at 0";
    EXPECT_EQ(Gaps(restarted)[1], 110);
}

// A stream server with its own clock, which stands still unless moved.
struct ServerFixture : AutoplayFixture {
    common::VirtualClock serverClock{500000};
    brivanta::testkit::LogSink serverLog;
    server::TNetSender sender{serverClock, serverLog.Writer(), {}};
    server::StreamServer server{sender};

    void StartServer(const protocol::TStreamParams& params) {
        sender.SetSlotCount(4);
        sender.SetStreamParams(params);
        sender.UpdateNow();
        ASSERT_EQ(server.Start("127.0.0.1", 0, 4), 0);
        settings.Port = server.LocalPort();
    }
    void TearDown() override {
        AutoplayFixture::TearDown();
        server.Stop();
    }
    std::optional<server::TClientSlot> LocalSlot() {
        for (const auto& slot : sender.Slots()) {
            if (slot.state == server::ssOnline) {
                return slot;
            }
        }
        return std::nullopt;
    }
};

const protocol::TStreamParams kPcmStream{common::MakePcmFormat(44100, 2, 16), "PCM",
                                         "1411 kbit/s, 44100 Hz, Stereo, 16 bit"};

using LoginTest = ServerFixture;

TEST_F(LoginTest, ABanValueFromTheServerDelaysTheNextAttemptByThatManyTenths) {
    StartServer(kPcmStream);
    server::TClientSlot banned;
    banned.address = server::TNetSender::ParseAddress("127.0.0.1");
    sender.Refuse(banned, 199);  // the hello then carries 199 + 1
    Create();
    Advance(45000);
    const auto times = lines.TimesOf("Connection reject: your IP is banned.");
    ASSERT_GE(times.size(), 3u);
    EXPECT_EQ(Gaps(times)[0], 20000 + 10);
    EXPECT_EQ(Gaps(times)[1], 20000 + 10);  // waited in full every time
    EXPECT_EQ(client->Status().connects, 0u);
}

TEST_F(LoginTest, AStreamWithoutADecoderFailsAndIsTriedAgainAfterThreeSeconds) {
    const protocol::TStreamParams odd{common::WaveFormatEx{85, 2, 44100, 12345, 1, 0, 0},
                                      "Nobody's codec", "12.345 kbit/s of something"};
    StartServer(odd);
    Create();
    const std::string noDecoder = "Decoder don't found in the ACM-codecs!";
    for (int i = 0; i < 100 && lines.Count(noDecoder) == 0; ++i) {
        Advance(10);
    }
    ASSERT_EQ(lines.Count(noDecoder), 1u);
    const int64_t failedAt = lines.TimesOf(noDecoder)[0];
    const auto status = client->Status();
    EXPECT_EQ(status.state, csOffline);
    EXPECT_EQ(status.retryAt, failedAt + 3000);
    EXPECT_EQ(status.codec, "Nobody's codec");  // what the server announced
    EXPECT_EQ(status.bitrate, "12.345 kbit/s of something");
    // The server saw a buffer length of 0 and refused the address for 2 s.
    ASSERT_TRUE(serverLog.WaitFor("Error start codec on 127.0.0.1"));
    serverClock.Advance(2500);
    sender.UpdateNow();
    sender.Sweep();

    Advance(3100);
    const auto times = lines.TimesOf(noDecoder);
    ASSERT_EQ(times.size(), 2u);
    EXPECT_EQ(times[1] - times[0], 3000 + 10);
}

TEST_F(LoginTest, AWrongPasswordIsReportedByTheServersMessage) {
    StartServer(kPcmStream);
    sender.SetPassword("secret");
    settings.Password = "guess";
    Create();
    for (int i = 0; i < 200 && lines.Count("Invalid password send to server ") == 0; ++i) {
        Advance(10);
    }
    EXPECT_EQ(lines.Count("Invalid password send to server "), 1u);
    Advance(100);
    EXPECT_GE(lines.Count("Disconnect from server"), 1u);
    EXPECT_EQ(client->Status().nextSeq, -1);  // a message block is not a stream block
}

TEST_F(LoginTest, TheBufferSettingIsClampedAtLogin) {
    struct Case {
        double setting;
        double stored;
        uint16_t announced;
        double highLevel;
    };
    for (const Case c : {Case{100.0, 65.5, 65500, 65.51}, Case{0.05, 0.1, 100, 0.11},
                         Case{2.3, 2.3, 2300, 2.31}}) {
        SCOPED_TRACE(c.setting);
        StartServer(kPcmStream);
        settings.Buffer = c.setting;
        Create();
        ASSERT_TRUE(AdvanceUntil(csOnline));
        EXPECT_DOUBLE_EQ(client->Settings().Buffer, c.stored);
        EXPECT_NEAR(client->Status().highLevel, c.highLevel, 1e-9);
        std::optional<server::TClientSlot> slot;
        ASSERT_TRUE(brivanta::testkit::WaitUntil([&] { return (slot = LocalSlot()).has_value(); }));
        EXPECT_EQ(slot->bufferLength, c.announced);
        EXPECT_EQ(slot->nextSeq, protocol::kSeqNewest);  // a fresh start
        // Silence pre-filled up to the target, 0.05 s below the high level.
        EXPECT_GE(client->Status().buffered, c.highLevel - 0.05 - 1e-9);
        client->FormClose();
        client.reset();
        server.Stop();
        ASSERT_TRUE(brivanta::testkit::WaitUntil([&] { return !LocalSlot(); }));
    }
}

TEST_F(LoginTest, SynhroTimeSetsTheComputersClockToTheServersTime) {
    StartServer(kPcmStream);
    settings.SynhroTime = true;
    Create();
    ASSERT_TRUE(AdvanceUntil(csOnline));
    ASSERT_EQ(systemTimeSet.size(), 1u);
    EXPECT_NEAR(systemTimeSet[0], serverClock.NowUtcDays(), 1.0 / 86400000);

    client->FormClose();
    settings.SynhroTime = false;
    systemTimeSet.clear();
    client.reset();
    Create();
    ASSERT_TRUE(AdvanceUntil(csOnline));
    EXPECT_TRUE(systemTimeSet.empty());
}

TEST_F(LoginTest, ExternalBlocksAreQueuedUntilTheirAudioIsHeardAndAStopDropsThem) {
    StartServer(kPcmStream);
    Create();
    ASSERT_TRUE(AdvanceUntil(csOnline));
    const double buffered = client->Status().buffered;  // the pre-filled silence
    ASSERT_GT(buffered, 0.9);
    const uint8_t text[5] = {'h', 'e', 'l', 'l', 'o'};
    sender.AddBlock(text, sizeof text, 7);
    const int64_t arrival = clock.NowMs() + TBrivantaClient::kCyclePauseMs;
    Advance(TBrivantaClient::kCyclePauseMs);  // one cycle reads one block
    ASSERT_EQ(client->ExternalQueue().size(), 1u);
    const TExternalBlock& block = client->ExternalQueue().front();
    EXPECT_EQ(block.Type, 7);
    EXPECT_EQ(block.Size, 5);
    EXPECT_EQ(block.Data, std::vector<uint8_t>(text, text + 5));
    EXPECT_EQ(block.Due, arrival + static_cast<int64_t>(buffered * 1000) - 50);
    EXPECT_EQ(client->Status().nextSeq, protocol::NextSeq(sender.LastSeq()));

    client->RequestStop();
    Advance(TBrivantaClient::kCyclePauseMs);
    EXPECT_TRUE(client->ExternalQueue().empty());
    EXPECT_EQ(client->Status().state, csStop);
    EXPECT_GT(client->Status().buffered, 0.0);  // the player plays on what it holds
}

TEST_F(LoginTest, DueExternalBlocksGoToTheControlProgramsWithTheirFirstFourBytesAsCodeAndValue) {
    StartServer(kPcmStream);
    settings.ExternalMode = 1;
    Create();
    ASSERT_TRUE(AdvanceUntil(csOnline));
    const uint8_t block[10] = {0x34, 0x12, 0x02, 0x00, 'p', 'a', 'y', 'l', 'o', 'd'};
    const uint8_t tooShort[3] = {1, 2, 3};
    // One at a time: a fresh listener starts with the newest block.
    sender.AddBlock(block, sizeof block, 9);
    Advance(TBrivantaClient::kCyclePauseMs);
    sender.AddBlock(tooShort, sizeof tooShort, 9);
    // Audio behind them, so that no cycle waits for a block.
    const uint8_t silence[4] = {0, 0, 0, 0};
    for (int i = 0; i < 200; ++i) {
        sender.AddBlock(silence, sizeof silence, protocol::btMusic);
    }
    Advance(TBrivantaClient::kCyclePauseMs);
    ASSERT_EQ(client->ExternalQueue().size(), 2u);
    const int64_t due = client->ExternalQueue().front().Due;
    Advance(due - clock.NowMs() - 20);
    EXPECT_TRUE(link.Sent().empty());  // not yet heard
    Advance(100);
    EXPECT_TRUE(client->ExternalQueue().empty());
    const auto sent = link.Sent();
    ASSERT_EQ(sent.size(), 1u);  // the 3-byte block is dropped
    EXPECT_EQ(sent[0].code, 0x1234);
    EXPECT_EQ(sent[0].value, 2);
    EXPECT_EQ(sent[0].bytes, (std::vector<uint8_t>{'p', 'a', 'y', 'l', 'o', 'd'}));
}

TEST_F(LoginTest, ANewServerInTheSettingsIsReachedAtOnceAnUnchangedOneKeepsTheConnection) {
    StartServer(kPcmStream);
    Create();
    ASSERT_TRUE(AdvanceUntil(csOnline));
    client->ApplySettings(settings);
    EXPECT_EQ(client->Status().state, csOnline);
    EXPECT_EQ(lines.Count("Disconnect from server"), 0u);

    server::TNetSender otherSender{serverClock, {}, {}};
    server::StreamServer other{otherSender};
    otherSender.SetSlotCount(4);
    otherSender.SetStreamParams(kPcmStream);
    ASSERT_EQ(other.Start("127.0.0.1", 0, 4), 0);
    TSetting moved = settings;
    moved.Port = other.LocalPort();
    client->ApplySettings(moved);
    EXPECT_EQ(client->Status().state, csConnect);
    EXPECT_EQ(client->Status().server, "127.0.0.1:" + std::to_string(moved.Port));
    Advance(10);
    EXPECT_EQ(client->Status().state, csOnline);
    EXPECT_EQ(client->Status().connects, 2u);
    EXPECT_TRUE(brivanta::testkit::WaitUntil([&] {
        const auto slots = otherSender.Slots();
        return std::any_of(slots.begin(), slots.end(),
                           [](const auto& slot) { return slot.state == server::ssOnline; });
    }));
    client->FormClose();
    other.Stop();
}

TEST_F(LoginTest, AnotherDeviceInTheSettingsTakesOverPlaybackPreFilled) {
    test::TempDir dir;
    audio::VirtualBackend twoOutputs{clock, audio::VirtualDeviceConfig{"", dir.Path("out.wav")}};
    StartServer(kPcmStream);
    EngineFixture::Create(twoOutputs);
    ASSERT_TRUE(AdvanceUntil(csOnline));
    TSetting moved = settings;
    moved.Device = "Virtual WAV output";
    client->ApplySettings(moved);
    EXPECT_TRUE(std::filesystem::exists(dir.Path("out.wav")));  // opened on the new device
    EXPECT_GE(client->Status().buffered, 0.96);
    client->FormClose();
}

struct DeviceTest : EngineFixture {
    audio::testing::FakeWaveBackend devices;
};

TEST_F(DeviceTest, AMissingDeviceIsReportedOnceAfterTheWaitAndItsArrivalToo) {
    devices.outputs = {audio::testing::UsableDevice(0, "Speakers")};
    settings.Device = "USB Headset";
    settings.Wait = 2;
    Create(devices);
    Advance(1980);
    EXPECT_EQ(lines.Count("Error! Output devices don't found"), 0u);
    Advance(100);
    EXPECT_EQ(lines.Count("Error! Output devices don't found"), 1u);
    EXPECT_EQ(link.Codes(), (std::vector<int32_t>{kNotifyDeviceMissing}));
    Advance(5000);
    EXPECT_EQ(lines.Count("Error! Output devices don't found"), 1u);
    EXPECT_EQ(client->Status().state, csStop);
    EXPECT_EQ(lines.Count("Prepare output devices"), 1u);

    devices.outputs.push_back(audio::testing::UsableDevice(1, "USB Headset"));
    Advance(20);
    EXPECT_EQ(link.Codes(), (std::vector<int32_t>{kNotifyDeviceMissing, kNotifyDeviceFound}));
    EXPECT_EQ(lines.Count("Client ready"), 1u);  // "Do nothing": waits for Play
    EXPECT_EQ(client->Status().state, csStop);
    EXPECT_EQ(client->Status().deviceState, dsOpen);
}

TEST_F(DeviceTest, PlayPressedBeforeTheDeviceIsFoundStartsOnceItIs) {
    settings.Device = "Speakers";
    settings.Port = ClosedPort();
    Create(devices);
    client->RequestPlay();
    Advance(100);
    EXPECT_EQ(client->Status().state, csStop);
    devices.outputs = {audio::testing::UsableDevice(0, "Speakers")};
    Advance(20);
    EXPECT_EQ(lines.Count("Start player"), 1u);
    EXPECT_NE(client->Status().state, csStop);
    EXPECT_TRUE(link.Codes().empty());  // found before the deadline: nothing to report
}

}  // namespace
}  // namespace brivanta::client
