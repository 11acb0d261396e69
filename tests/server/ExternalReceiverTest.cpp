#include "server/ExternalReceiver.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace brivanta::server {
namespace {

using common::TcpSocket;

struct Block {
    std::vector<uint8_t> data;
    uint8_t type;
    bool operator==(const Block&) const = default;
};

struct ExternalReceiverTest : ::testing::Test {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Block> blocks;
    std::vector<std::string> log;
    TExternalReceiver receiver{[this](const uint8_t* data, size_t size, uint8_t type) {
                                   std::lock_guard lock(mutex);
                                   blocks.push_back(Block{{data, data + size}, type});
                                   changed.notify_all();
                               },
                               [this](const std::string& line) {
                                   std::lock_guard lock(mutex);
                                   log.push_back(line);
                               }};
    TExternalReceiver::Config config;

    void SetUp() override {
        config.port = 0;
        config.password = "secret";
        config.bindAddress = "127.0.0.1";
    }
    void Listen() { ASSERT_EQ(receiver.Start(config), 0); }

    TcpSocket Connect(const std::string& from = {}) {
        TcpSocket socket;
        EXPECT_EQ(socket.Connect("127.0.0.1", receiver.LocalPort(), 2000, from), 0);
        socket.SetReadTimeout(5000);
        return socket;
    }
    static std::string Line(TcpSocket& socket) {
        std::string line;
        return ReadLine(socket, line, 5000, 1000) == 0 ? line : "<closed>";
    }
    // Connects and logs in with the password; expects to be admitted.
    TcpSocket Admitted(const std::string& password) {
        TcpSocket socket = Connect();
        EXPECT_EQ(Line(socket), "Brivanta");
        const std::string answer = password + "\r\n";
        socket.WriteAll(answer.data(), answer.size());
        EXPECT_EQ(Line(socket), "");
        return socket;
    }
    static void Send(TcpSocket& socket, std::vector<uint8_t> bytes) {
        ASSERT_EQ(socket.WriteAll(bytes.data(), bytes.size()), 0);
    }
    void WaitForBlocks(size_t count) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(5), [&] { return blocks.size() >= count; });
    }
    static bool ClosedByPeer(TcpSocket& socket) {
        uint8_t byte;
        return socket.ReadExactly(&byte, 1) != 0;
    }
};

TEST_F(ExternalReceiverTest, PacketsBecomeBlocksAndKeepAlivesAreAnswered) {
    Listen();
    TcpSocket sender = Admitted("secret");
    Send(sender, {0x00, 0x00});  // keep-alive
    EXPECT_EQ(Line(sender), "");
    Send(sender, {0x01, 0x00});  // L = 1: a keep-alive too, with no type
    EXPECT_EQ(Line(sender), "");
    Send(sender, {0x02, 0x00, 0x05, 0xAB});           // type 5, one byte
    Send(sender, {0x04, 0x00, 0xFE, 'a', 'b', 'c'});  // type 254, three bytes
    WaitForBlocks(2);
    std::lock_guard lock(mutex);
    EXPECT_EQ(blocks, (std::vector<Block>{{{0xAB}, 5}, {{'a', 'b', 'c'}, 254}}));
}

TEST_F(ExternalReceiverTest, WrongPasswordIsRefused) {
    Listen();
    TcpSocket socket = Connect();
    EXPECT_EQ(Line(socket), "Brivanta");
    Send(socket, {'S', 'e', 'c', 'r', 'e', 't', '\n'});  // letter case counts
    EXPECT_EQ(Line(socket), "Invalid password");
    EXPECT_TRUE(ClosedByPeer(socket));
}

TEST_F(ExternalReceiverTest, EmptyPasswordAdmitsAnEmptyLine) {
    config.password = "";
    Listen();
    TcpSocket sender = Admitted("");
    Send(sender, {0x00, 0x00});
    EXPECT_EQ(Line(sender), "");
}

TEST_F(ExternalReceiverTest, TheSixthConnectionGetsMaxConnections) {
    Listen();
    std::vector<TcpSocket> senders;
    for (int i = 0; i < TExternalReceiver::kMaxConnections; ++i) {
        senders.push_back(Admitted("secret"));
    }
    TcpSocket sixth = Connect();
    EXPECT_EQ(Line(sixth), "Max connections");
    EXPECT_TRUE(ClosedByPeer(sixth));
    senders.pop_back();  // one leaves: there is room again
    for (int attempt = 0; attempt < 100 && receiver.ConnectionCount() >= 5; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Admitted("secret");
}

TEST_F(ExternalReceiverTest, OnlyTheConfiguredAddressWhenAsked) {
    config.ipOnly = true;
    config.ip = "127.0.0.2";
    config.bindAddress = "0.0.0.0";
    Listen();
    TcpSocket stranger = Connect("127.0.0.1");
    EXPECT_TRUE(ClosedByPeer(stranger));  // closed before any greeting
    TcpSocket known = Connect("127.0.0.2");
    EXPECT_EQ(Line(known), "Brivanta");
}

TEST_F(ExternalReceiverTest, ASilentLoginIsDroppedButAnAdmittedSenderMayIdle) {
    receiver.SetPasswordTimeout(200);
    Listen();
    TcpSocket admitted = Admitted("secret");
    TcpSocket silent = Connect();
    EXPECT_EQ(Line(silent), "Brivanta");
    EXPECT_TRUE(ClosedByPeer(silent));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Send(admitted, {0x00, 0x00});
    EXPECT_EQ(Line(admitted), "");
}

TEST_F(ExternalReceiverTest, StopEndsEveryConnectionAndABusyPortIsLogged) {
    Listen();
    TcpSocket sender = Admitted("secret");
    TExternalReceiver second([](const uint8_t*, size_t, uint8_t) {},
                             [this](const std::string& line) { log.push_back(line); });
    TExternalReceiver::Config same = config;
    same.port = receiver.LocalPort();
    EXPECT_NE(second.Start(same), 0);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("External server:", 0), 0u);
    receiver.Stop();
    EXPECT_FALSE(receiver.Listening());
    EXPECT_TRUE(ClosedByPeer(sender));
}

}  // namespace
}  // namespace brivanta::server
