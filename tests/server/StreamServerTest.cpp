#include "server/StreamServer.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "server/StreamServerFixture.h"

namespace brivanta::server {
namespace {

using protocol::Bytes;

Bytes Hello(const std::array<char, 8>& magic, uint8_t kind, uint8_t version,
            const std::string& password) {
    Bytes bytes;
    protocol::EncodeHello(
        protocol::TStreamHello{magic, kind, version, 0, static_cast<uint8_t>(password.size())},
        bytes);
    bytes.insert(bytes.end(), password.begin(), password.end());
    return bytes;
}

Bytes WithStart(Bytes bytes, uint16_t buffer = 3000, uint16_t resume = protocol::kSeqNewest) {
    protocol::EncodeClientStart(protocol::TClientStart{buffer, resume}, bytes);
    return bytes;
}

Bytes Cut(Bytes bytes, size_t count) {
    bytes.resize(bytes.size() - count);
    return bytes;
}

constexpr std::array<char, 8> kBadMagic = {'B', 'r', 'i', 'v', 'a', 'n', 't', 'x'};

using StreamServerTest = StreamServerFixture;

TEST_F(StreamServerTest, AnnouncementIsGreetingTimeAndParametersInOrder) {
    StartServer();
    auto socket = Connect("127.0.0.2");
    const Bytes expected = protocol::EncodeServerAnnouncement(clock.NowUtcDays(), params);
    Bytes got(expected.size());
    ASSERT_EQ(socket.ReadExactly(got.data(), got.size()), 0);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(Bytes(got.begin() + 8, got.begin() + 12), (Bytes{0x53, 0x02, 0x00, 0x00}));
    EXPECT_EQ(got[20], 18);
    EXPECT_TRUE(connectLog.Has("Connect..." + PeerText(socket, "127.0.0.2")));
}

// Each faulty answer: the code, whether a message block carries it back, and
// how long the address is then refused.
TEST_F(StreamServerTest, EveryFaultInTheAnswerIsRefusedWithItsCode) {
    struct Case {
        std::string name;
        Bytes answer;
        bool halfClose;  // the client stops writing: the next read fails
        uint8_t code;
        bool messageSent;
        int banTenths;
    };
    const auto& magic = protocol::kMagicWord;
    const std::vector<Case> cases = {
        {"wrong magic", WithStart(Hello(kBadMagic, 'C', 2, "secret")), false, 2, true, 20},
        {"wrong magic and password", WithStart(Hello(kBadMagic, 'C', 2, "wrong")), false, 6, true,
         20},
        {"kind letter", WithStart(Hello(magic, 'X', 2, "secret")), false, 3, true, 20},
        {"version", WithStart(Hello(magic, 'C', 3, "secret")), false, 5, true, 20},
        {"password", WithStart(Hello(magic, 'C', 2, "Secret")), false, 6, true, 20},
        {"no decoder", *protocol::EncodeClientAnswer("secret", {}, false), false, 7, true, 20},
        {"hello lost", {}, true, 255, false, 5},
        {"password lost", Cut(Hello(magic, 'C', 2, "secret"), 2), true, 254, false, 5},
        {"buffer length lost", Cut(WithStart(Hello(magic, 'C', 2, "secret")), 3), true, 7, true, 5},
        {"resume number lost", Cut(WithStart(Hello(magic, 'C', 2, "secret")), 1), true, 8, true, 5},
    };
    StartServer();
    const size_t announcementSize =
        protocol::EncodeServerAnnouncement(clock.NowUtcDays(), params).size();
    int host = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string local = "127.0.0." + std::to_string(host++);
        auto socket = Connect(local);
        Bytes announcement(announcementSize);
        ASSERT_EQ(socket.ReadExactly(announcement.data(), announcement.size()), 0);
        socket.WriteAll(c.answer.data(), c.answer.size());
        if (c.halfClose) {
            HalfClose(socket);
        }
        const Bytes rest = ReadToEnd(socket);
        EXPECT_EQ(rest, c.messageSent ? protocol::EncodeLoginResultMessage(c.code) : Bytes{});
        ASSERT_TRUE(connectLog.WaitFor("Falshe! rc=" + std::to_string(c.code) + " - " +
                                       PeerText(socket, local)));
        ASSERT_TRUE(outLog.WaitFor("Disconnect " + local));
        const auto line = TNetSender::LoginLogLine(c.code, false, local);
        EXPECT_TRUE(line.empty() || outLog.Has(line)) << line;
        const auto slot = SlotOf(local);
        ASSERT_TRUE(slot);
        // Still Banned after the disconnect: a refusal lasts its full time.
        EXPECT_EQ(slot->state, ssBanned);
        EXPECT_EQ(slot->holdUntil, sender.FNow() + c.banTenths * 100);
        EXPECT_EQ(slot->port, socket.LocalPort());
    }
}

TEST_F(StreamServerTest, GarbledAnswersEndInAResultAndTheServerGoesOn) {
    StartServer(64);
    std::mt19937 random(2102);
    const Bytes validStart = Hello(protocol::kMagicWord, 'C', 2, "secret");
    for (int i = 0; i < 40; ++i) {
        const std::string local = "127.0.2." + std::to_string(i + 1);
        auto socket = Connect(local);
        client::ServerAnnouncement announcement;
        ASSERT_TRUE(client::ReadServerAnnouncement(socket, announcement).ok);
        // Half of the answers begin like a real one, so the later reads see garbage too.
        Bytes answer = i % 2 == 0 ? Bytes(validStart.begin(), validStart.begin() + 11) : Bytes{};
        const size_t extra = random() % 40;
        for (size_t k = 0; k < extra; ++k) {
            answer.push_back(static_cast<uint8_t>(random()));
        }
        socket.WriteAll(answer.data(), answer.size());
        HalfClose(socket);
        ReadToEnd(socket);
        const std::string peer = PeerText(socket, local);
        EXPECT_TRUE(connectLog.WaitForMatch([&](const std::string& line) {
            return line == "Start " + peer ||
                   (line.rfind("Falshe! rc=", 0) == 0 && line.ends_with(" - " + peer));
        })) << i;
    }
    auto admitted = Login("127.0.0.16");
    AddBlocks(1);
    EXPECT_EQ(ReadSeqs(admitted, 1), (std::vector<uint16_t>{1}));
}

TEST_F(StreamServerTest, KindRAndAnyPasswordUnderAnEmptyServerPasswordAreAdmitted) {
    StartServer(16, "");
    struct Case {
        uint8_t kind;
        std::string password;
    };
    int host = 30;
    for (const auto& c : std::vector<Case>{{'R', "secret"}, {'C', ""}, {'C', "anything"}}) {
        const std::string local = "127.0.0." + std::to_string(host++);
        auto socket = Connect(local);
        client::ServerAnnouncement announcement;
        ASSERT_TRUE(client::ReadServerAnnouncement(socket, announcement).ok);
        const Bytes answer = WithStart(Hello(protocol::kMagicWord, c.kind, 2, c.password));
        socket.WriteAll(answer.data(), answer.size());
        EXPECT_TRUE(connectLog.WaitFor("Start " + PeerText(socket, local))) << c.password;
        EXPECT_TRUE(outLog.WaitFor("Stream open for " + local));
        EXPECT_EQ(SlotOf(local)->state, ssOnline);
    }
}

TEST_F(StreamServerTest, ASilentClientTimesOutAsAReadFailure) {
    StartServer();
    sender.SetHandshakeReadTimeout(50);
    auto socket = Connect("127.0.0.3");
    const Bytes rest = ReadToEnd(socket);  // the announcement, then the close
    EXPECT_EQ(rest.size(), protocol::EncodeServerAnnouncement(0, params).size());
    EXPECT_TRUE(connectLog.WaitFor("Falshe! rc=255 - " + PeerText(socket, "127.0.0.3")));
    EXPECT_EQ(SlotOf("127.0.0.3")->holdUntil, sender.FNow() + 500);
}

TEST_F(StreamServerTest, RefusedAddressGetsTheRemainingTimeInItsHelloAlone) {
    StartServer();
    const std::string local = "127.0.0.4";
    auto refused = Connect(local);
    HalfClose(refused);
    ReadToEnd(refused);  // the hello read fails: refused for half a second
    ASSERT_TRUE(connectLog.WaitFor("Falshe! rc=255 - " + PeerText(refused, local)));

    const auto helloOf = [&](common::TcpSocket& socket) {
        const Bytes bytes = ReadToEnd(socket);
        return bytes.size() == protocol::kStreamHelloSize ? bytes[11] : -1;
    };
    sender.Refuse(TClientSlot{ssFree, TNetSender::ParseAddress(local), 1, 0, 0, 0, 0}, 20);
    auto second = Connect(local);
    EXPECT_EQ(helloOf(second), 21);
    EXPECT_TRUE(connectLog.WaitFor("Falshe! rc=255 - " + PeerText(second, local)));
    EXPECT_TRUE(connectLog.WaitFor("Сторонний клиент отключен " + PeerText(second, local)));

    clock.Advance(2001);
    sender.UpdateNow();
    auto third = Connect(local);
    EXPECT_EQ(helloOf(third), 1);  // expired, but not yet swept

    sender.Sweep();
    auto admitted = Login(local);
    EXPECT_EQ(SlotOf(local)->state, ssOnline);

    const std::string other = "127.0.0.5";
    sender.Refuse(TClientSlot{ssFree, TNetSender::ParseAddress(other), 1, 0, 0, 0, 0}, 254);
    auto longBan = Connect(other);
    EXPECT_EQ(helloOf(longBan), 255);
}

TEST_F(StreamServerTest, NoFreeSlotGivesCodeTenWithoutAMessage) {
    StartServer(1);
    sender.Refuse(TClientSlot{ssFree, TNetSender::ParseAddress("127.0.0.99"), 1, 0, 0, 0, 0}, 100);
    auto socket = Connect("127.0.0.6");
    client::ServerAnnouncement announcement;
    ASSERT_TRUE(client::ReadServerAnnouncement(socket, announcement).ok);
    ASSERT_TRUE(client::WriteClientAnswer(socket, "secret", {3000, 0xFFFF}, true).ok);
    EXPECT_EQ(ReadToEnd(socket), Bytes{});
    EXPECT_TRUE(outLog.WaitFor("Error agreement stream on 127.0.0.6"));
    EXPECT_FALSE(SlotOf("127.0.0.6"));
}

TEST_F(StreamServerTest, FreshClientStartsWithTheNewestBlock) {
    StartServer();
    AddBlocks(100);
    auto socket = Login("127.0.0.7");
    EXPECT_EQ(ReadSeqs(socket, 1), (std::vector<uint16_t>{100}));
    AddBlocks(2);
    EXPECT_EQ(ReadSeqs(socket, 2), (std::vector<uint16_t>{101, 102}));
    EXPECT_TRUE(outLog.Has("Stream open for 127.0.0.7"));
}

TEST_F(StreamServerTest, ResumingClientGetsEveryBlockFromItsNumber) {
    StartServer();
    AddBlocks(10);
    auto socket = Login("127.0.0.8", 6);
    EXPECT_EQ(ReadSeqs(socket, 5), (std::vector<uint16_t>{6, 7, 8, 9, 10}));
    AddBlocks(1);
    EXPECT_EQ(ReadSeqs(socket, 1), (std::vector<uint16_t>{11}));
    EXPECT_TRUE(outLog.WaitFor("Restore connect 127.0.0.8"));
}

TEST_F(StreamServerTest, ResumeNumberNotYetQueuedGetsNothingUntilItIs) {
    StartServer();
    AddBlocks(10);
    auto socket = Login("127.0.0.9", 15);
    EXPECT_TRUE(outLog.WaitFor("Restore connect 127.0.0.9"));
    AddBlocks(6);  // 11 .. 16: nothing older than 15 may arrive first
    EXPECT_EQ(ReadSeqs(socket, 2), (std::vector<uint16_t>{15, 16}));
}

TEST_F(StreamServerTest, SequenceNumbersOnTheWireSkip0xFFFF) {
    StartServer();
    AddBlocks(65533);
    auto socket = Login("127.0.0.11", 65533);
    AddBlocks(2);
    EXPECT_EQ(ReadSeqs(socket, 3), (std::vector<uint16_t>{65533, 65534, 0}));
}

TEST_F(StreamServerTest, SecondLoginFromOneAddressTakesOverTheSlot) {
    StartServer();
    auto first = Login("127.0.0.12");
    auto second = Login("127.0.0.12");
    EXPECT_EQ(ReadToEnd(first), Bytes{});  // stopped by its next pass
    EXPECT_EQ(sender.Slots()[0].port, second.LocalPort());
    EXPECT_EQ(sender.Slots()[0].state, ssOnline);
    AddBlocks(1);
    EXPECT_EQ(ReadSeqs(second, 1), (std::vector<uint16_t>{1}));
}

TEST_F(StreamServerTest, ShrinkingTheTableStopsThePeersOfTheDroppedSlots) {
    StartServer(10);
    for (uint8_t i = 0; i < 7; ++i) {
        sender.Refuse(TClientSlot{ssFree, {10, 9, 9, i}, 1, 0, 0, 0, 0}, 100);
    }
    auto seventh = Login("127.0.0.57");
    auto eighth = Login("127.0.0.58");
    ASSERT_EQ(SlotOf("127.0.0.58"), sender.Slots()[8]);
    sender.SetSlotCount(5);
    EXPECT_EQ(ReadToEnd(seventh), Bytes{});
    EXPECT_EQ(ReadToEnd(eighth), Bytes{});
}

TEST_F(StreamServerTest, LostClientKeepsItsPlaceForItsBufferLength) {
    StartServer();
    { auto socket = Login("127.0.0.13"); }
    ASSERT_TRUE(outLog.WaitFor("Disconnect 127.0.0.13"));
    auto slot = SlotOf("127.0.0.13");
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->state, ssOffline);
    EXPECT_EQ(slot->holdUntil, sender.FNow() + 3000);
    clock.Advance(3001);
    sender.UpdateNow();
    sender.Sweep();
    EXPECT_FALSE(SlotOf("127.0.0.13"));
}

TEST_F(StreamServerTest, StopClosesEveryConnectionAndRefusesNewOnes) {
    StartServer();
    auto admitted = Login("127.0.0.14");
    auto waiting = Connect("127.0.0.15");
    server.Stop();
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(ReadToEnd(admitted), Bytes{});
    ReadToEnd(waiting);
    common::TcpSocket late;
    EXPECT_NE(late.Connect("127.0.0.1", server.LocalPort(), 1000), 0);
}

}  // namespace
}  // namespace brivanta::server
