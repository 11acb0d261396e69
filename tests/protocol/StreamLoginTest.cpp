#include "client/StreamLogin.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "common/TcpServer.h"
#include "protocol/StreamTestKit.h"
#include "server/NetContact.h"
#include "server/StreamServer.h"

namespace brivanta::client {
namespace {

using protocol::Bytes;

const protocol::TStreamParams kParams{common::MakePcmFormat(44100, 2, 16), "PCM", "44.1 kHz"};

Bytes ServerHello(uint8_t kind, uint8_t version, uint8_t refusal,
                  const std::array<char, 8>& magic = protocol::kMagicWord) {
    Bytes bytes;
    protocol::EncodeHello(protocol::TStreamHello{magic, kind, version, 0, refusal}, bytes);
    return bytes;
}

Bytes Joined(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes Params(const protocol::TStreamParams& params) {
    Bytes bytes;
    protocol::EncodeStreamParams(params, bytes);
    return bytes;
}

// A listener that writes fixed bytes to every connection and closes it.
class ScriptedServer {
  public:
    ScriptedServer()
        : server_(common::TcpServerHandlers{[this](common::TcpConnection& c) {
                                                const Bytes bytes = Script();
                                                c.Socket().WriteAll(bytes.data(), bytes.size());
                                                c.Close();
                                            },
                                            {},
                                            {},
                                            {}}) {
        EXPECT_EQ(server_.Start("127.0.0.1", 0), 0);
    }

    void SetScript(Bytes bytes) {
        std::lock_guard lock(mutex_);
        script_ = std::move(bytes);
    }

    uint16_t Port() const { return server_.LocalPort(); }

  private:
    Bytes Script() {
        std::lock_guard lock(mutex_);
        return script_;
    }

    std::mutex mutex_;
    Bytes script_;
    common::TcpServer server_;
};

TEST(StreamLoginTest, AnnouncementFailuresCarryTheirTextAndDelay) {
    const Bytes time = [] {
        Bytes bytes;
        protocol::EncodeServerTime(46000.25, bytes);
        return bytes;
    }();
    const Bytes good = Joined(Joined(ServerHello('S', 2, 0), time), Params(kParams));
    Bytes wrongHeaderSize = good;
    wrongHeaderSize[20] = 16;
    struct Case {
        std::string name;
        Bytes script;
        bool ok;
        std::string text;
        int delay;
    };
    const std::vector<Case> cases = {
        {"admitted", good, true, "", 0},
        {"relay kind", Joined(Joined(ServerHello('R', 2, 0), time), Params(kParams)), true, "", 0},
        {"empty strings", Joined(Joined(ServerHello('S', 2, 0), time), Params({})), true, "", 0},
        {"nothing", {}, false, "Error connection to server", 10},
        {"magic", ServerHello('S', 2, 0, {'X', 'r', 'i', 'v', 'a', 'n', 't', 'a'}), false,
         "Error format or version server", 0},
        {"version", ServerHello('S', 1, 0), false, "Error format or version server", 0},
        {"kind", ServerHello('C', 2, 0), false, "Error format or version server", 0},
        {"banned", ServerHello('S', 2, 21), false, "Connection reject: your IP is banned.", 21},
        {"time cut", Joined(ServerHello('S', 2, 0), Bytes(4, 0)), false, "Error create connection",
         5},
        {"header size", wrongHeaderSize, false, "Error read stream parameters", 10},
        {"name cut", Bytes(good.begin(), good.end() - 3), false, "Error read stream parameters",
         10},
    };
    ScriptedServer server;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.SetScript(c.script);
        common::TcpSocket socket;
        ASSERT_EQ(socket.Connect("127.0.0.1", server.Port(), 2000), 0);
        socket.SetReadTimeout(5000);
        ServerAnnouncement announcement;
        const LoginStep step = ReadServerAnnouncement(socket, announcement);
        EXPECT_EQ(step.ok, c.ok);
        EXPECT_EQ(step.logText, c.text);
        EXPECT_EQ(step.delayTenths, c.delay);
        if (c.name == "admitted") {
            EXPECT_EQ(announcement.params, kParams);
            EXPECT_EQ(announcement.serverTime, 46000.25);
        }
    }
}

TEST(StreamLoginTest, ClientWithoutDecoderIsToldErrorStartCodec) {
    common::VirtualClock clock;
    testkit::LogSink outLog;
    server::TNetSender sender(clock, outLog.Writer(), {});
    sender.SetSlotCount(4);
    sender.SetStreamParams(kParams);
    server::StreamServer server(sender);
    ASSERT_EQ(server.Start("127.0.0.1", 0, 4), 0);

    common::TcpSocket socket;
    ASSERT_EQ(socket.Connect("127.0.0.1", server.LocalPort(), 2000), 0);
    socket.SetReadTimeout(5000);
    ServerAnnouncement announcement;
    ASSERT_TRUE(ReadServerAnnouncement(socket, announcement).ok);
    EXPECT_EQ(announcement.params, kParams);
    const LoginStep step = WriteClientAnswer(socket, "", {3000, 0xFFFF}, false);
    EXPECT_FALSE(step.ok);
    EXPECT_EQ(step.logText, "Decoder don't found in the ACM-codecs!");
    EXPECT_EQ(step.delayTenths, 30);

    protocol::TBlockHeader header;
    Bytes payload;
    ASSERT_EQ(ReadStreamBlock(socket, header, payload), 0);
    EXPECT_EQ(header, (protocol::TBlockHeader{1, protocol::mcLoginResult, protocol::btMessage}));
    ASSERT_EQ(payload.size(), 1u);
    EXPECT_EQ(ServerRefusalText(payload[0]), "Error start codec");
    EXPECT_TRUE(outLog.WaitFor("Error start codec on 127.0.0.1"));
}

TEST(StreamLoginTest, TooLongPasswordFailsBeforeAnythingIsWritten) {
    common::TcpSocket unconnected;
    const LoginStep step = WriteClientAnswer(unconnected, std::string(256, 'p'), {}, true);
    EXPECT_FALSE(step.ok);
    EXPECT_EQ(step.delayTenths, 0);
    const LoginStep failedWrite = WriteClientAnswer(unconnected, "p", {}, true);
    EXPECT_EQ(failedWrite.logText, "Error send information to server ");
    EXPECT_EQ(failedWrite.delayTenths, 10);
}

TEST(StreamLoginTest, BufferSettingLimitsAndTimeOuts) {
    EXPECT_EQ(ClampBufferSeconds(100), 65.5);
    EXPECT_EQ(ClampBufferSeconds(0), 0.1);
    EXPECT_EQ(AnnouncedBufferLength(100), 65500);
    EXPECT_EQ(AnnouncedBufferLength(3), 3000);
    EXPECT_EQ(AnnouncedBufferLength(2.3), 2300);
    EXPECT_EQ(AnnouncedBufferLength(0.1), 100);
    EXPECT_EQ(StreamReadTimeoutMs(0.1), 500);
    EXPECT_EQ(StreamReadTimeoutMs(3), 1500);
    EXPECT_EQ(StreamReadTimeoutMs(65.5), 32750);
}

TEST(StreamLoginTest, RefusalTextsOfTheMessageCodes) {
    const std::vector<std::pair<uint8_t, std::string>> texts = {
        {2, "No Brivanta on server"},     {3, "Error communication with server"},
        {5, "Invalid version on server"}, {6, "Invalid password send to server "},
        {7, "Error start codec"},         {8, "Error read start data from server"},
    };
    for (const auto& [code, text] : texts) {
        EXPECT_EQ(ServerRefusalText(code), text);
    }
    EXPECT_FALSE(ServerRefusalText(0));
    EXPECT_FALSE(ServerRefusalText(10));
    EXPECT_FALSE(ServerRefusalText(255));
}

}  // namespace
}  // namespace brivanta::client
