#include "common/TcpSocket.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <numeric>
#include <thread>
#include <vector>

namespace brivanta::common {
namespace {

// A listening loopback socket accepting one connection at a time.
struct Listener {
    int fd = -1;
    uint16_t port = 0;

    explicit Listener(int backlog = 8) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local));
        listen(fd, backlog);
        socklen_t length = sizeof(local);
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
        port = ntohs(local.sin_port);
    }
    ~Listener() { close(fd); }
    TcpSocket Accept() { return TcpSocket(accept(fd, nullptr, nullptr)); }
};

struct ConnectedPair {
    Listener listener;
    TcpSocket client;
    TcpSocket server;

    ConnectedPair() {
        EXPECT_EQ(client.Connect("127.0.0.1", listener.port, 1000), 0);
        server = listener.Accept();
    }
};

TEST(TcpSocketTest, ReadExactlyJoinsPiecesAndWritePartsSendsThemBackToBack) {
    ConnectedPair pair;
    std::vector<uint8_t> big(1 << 20);
    std::iota(big.begin(), big.end(), uint8_t{0});
    const std::vector<uint8_t> head = {1, 2, 3};
    std::thread writer([&] { EXPECT_EQ(pair.client.WriteParts({head, big}), 0); });
    std::vector<uint8_t> got(head.size() + big.size());
    EXPECT_EQ(pair.server.ReadExactly(got.data(), got.size()), 0);
    writer.join();
    EXPECT_TRUE(std::equal(head.begin(), head.end(), got.begin()));
    EXPECT_TRUE(std::equal(big.begin(), big.end(), got.begin() + 3));
}

TEST(TcpSocketTest, ReadsEndWithTimeOutOrPeerClose) {
    ConnectedPair pair;
    uint8_t byte = 0;
    pair.server.SetReadTimeout(30);
    EXPECT_EQ(pair.server.ReadExactly(&byte, 1), ETIMEDOUT);
    EXPECT_FALSE(pair.server.PeerClosed());

    pair.client.WriteAll("x", 1);
    pair.client.Close();
    uint8_t two[2];
    EXPECT_EQ(pair.server.ReadExactly(two, 2), ECONNRESET);  // one byte came, then the end
    EXPECT_TRUE(pair.server.PeerClosed());
}

TEST(TcpSocketTest, ShutdownWakesABlockedReader) {
    ConnectedPair pair;
    int result = 0;
    std::thread reader([&] {
        uint8_t byte = 0;
        result = pair.server.ReadExactly(&byte, 1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pair.server.Shutdown();
    reader.join();
    EXPECT_NE(result, 0);
}

TEST(TcpSocketTest, ConnectGivesUpAfterItsTimeOut) {
    Listener full(0);  // never accepts: once its queue is full, new handshakes stall
    std::vector<TcpSocket> queued(4);
    int result = 0;
    for (auto& socket : queued) {
        result = socket.Connect("127.0.0.1", full.port, 100);
        if (result != 0) {
            break;
        }
    }
    EXPECT_EQ(result, ETIMEDOUT);
}

TEST(TcpSocketTest, ConnectFailuresAreErrorCodes) {
    int port = 0;
    {
        Listener closed;
        port = closed.port;
    }
    TcpSocket socket;
    EXPECT_EQ(socket.Connect("127.0.0.1", static_cast<uint16_t>(port), 1000), ECONNREFUSED);
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_NE(socket.Connect("no-such-host.invalid", 1, 1000), 0);
    uint8_t byte = 0;
    EXPECT_EQ(socket.ReadExactly(&byte, 1), EBADF);
    EXPECT_FALSE(SocketErrorText(ETIMEDOUT).empty());
}

TEST(TcpSocketTest, ConnectBindsTheLocalAddressAndReportsEndpoints) {
    Listener listener;
    TcpSocket client;
    ASSERT_EQ(client.Connect("127.0.0.1", listener.port, 1000, "127.0.0.7"), 0);
    TcpSocket server = listener.Accept();
    std::string address;
    uint16_t port = 0;
    ASSERT_TRUE(server.PeerEndpoint(address, port));
    EXPECT_EQ(address, "127.0.0.7");
    EXPECT_EQ(port, client.LocalPort());
}

}  // namespace
}  // namespace brivanta::common
