#include "common/TcpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "protocol/StreamTestKit.h"

namespace brivanta::common {
namespace {

using testkit::WaitUntil;

// Records the events of every connection in order.
struct EventRecorder {
    std::mutex mutex;
    std::vector<std::string> events;
    std::atomic<int> disconnects{0};

    void Add(const std::string& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
    }
    std::vector<std::string> Events() {
        std::lock_guard lock(mutex);
        return events;
    }
};

TEST(TcpServerTest, EachConnectionRunsConnectExecuteDisconnectOnItsOwnThread) {
    EventRecorder recorder;
    std::atomic<int> executes{0};
    std::thread::id connectThread;
    std::atomic<bool> sameThread{true};
    TcpServer server(TcpServerHandlers{
        [&](TcpConnection& c) {
            connectThread = std::this_thread::get_id();
            recorder.Add("connect " + c.PeerAddress() + ":" + std::to_string(c.PeerPort()));
            c.Socket().WriteAll("hi", 2);
        },
        [&](TcpConnection& c) {
            sameThread = sameThread && connectThread == std::this_thread::get_id();
            if (++executes == 3) {
                c.Close();
            }
        },
        [&](TcpConnection&) {
            sameThread = sameThread && connectThread == std::this_thread::get_id();
            recorder.Add("disconnect");
            ++recorder.disconnects;
        },
        {}});
    ASSERT_EQ(server.Start("127.0.0.1", 0), 0);
    TcpSocket client;
    ASSERT_EQ(client.Connect("127.0.0.1", server.LocalPort(), 1000, "127.0.0.3"), 0);
    char hello[2];
    EXPECT_EQ(client.ReadExactly(hello, 2), 0);
    ASSERT_TRUE(WaitUntil([&] { return recorder.disconnects == 1; }));
    EXPECT_EQ(recorder.Events(),
              (std::vector<std::string>{"connect 127.0.0.3:" + std::to_string(client.LocalPort()),
                                        "disconnect"}));
    EXPECT_EQ(executes, 3);
    EXPECT_TRUE(sameThread);
    uint8_t byte = 0;
    EXPECT_EQ(client.ReadExactly(&byte, 1), ECONNRESET);
    EXPECT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 0; }));
}

TEST(TcpServerTest, PeerCloseEndsTheConnection) {
    std::atomic<int> disconnects{0};
    TcpServer server(TcpServerHandlers{
        {},
        [](TcpConnection&) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); },
        [&](TcpConnection&) { ++disconnects; },
        {}});
    ASSERT_EQ(server.Start("127.0.0.1", 0), 0);
    {
        TcpSocket client;
        ASSERT_EQ(client.Connect("127.0.0.1", server.LocalPort(), 1000), 0);
        ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 1; }));
    }
    EXPECT_TRUE(WaitUntil([&] { return disconnects == 1 && server.ConnectionCount() == 0; }));
}

TEST(TcpServerTest, ConnectionsBeyondTheLimitAreClosedOnArrival) {
    std::atomic<int> connects{0};
    TcpServer server(TcpServerHandlers{
        [&](TcpConnection&) { ++connects; },
        [](TcpConnection&) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); },
        {},
        {}});
    server.SetMaxConnections(2);
    ASSERT_EQ(server.Start("127.0.0.1", 0), 0);
    std::vector<TcpSocket> clients(3);
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(clients[i].Connect("127.0.0.1", server.LocalPort(), 1000), 0);
        ASSERT_TRUE(WaitUntil([&] { return connects == static_cast<int>(i + 1); }));
    }
    ASSERT_EQ(clients[2].Connect("127.0.0.1", server.LocalPort(), 1000), 0);
    uint8_t byte = 0;
    clients[2].SetReadTimeout(5000);
    EXPECT_EQ(clients[2].ReadExactly(&byte, 1), ECONNRESET);
    EXPECT_EQ(connects, 2);
    EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST(TcpServerTest, StopClosesBusyConnectionsAndJoinsTheirThreads) {
    std::atomic<int> connects{0};
    std::atomic<int> disconnects{0};
    TcpServer server(TcpServerHandlers{
        [&](TcpConnection& c) {
            ++connects;
            uint8_t byte = 0;
            c.Socket().ReadExactly(&byte, 1);  // blocks until Stop closes the connection
        },
        {},
        [&](TcpConnection&) { ++disconnects; },
        {}});
    ASSERT_EQ(server.Start("127.0.0.1", 0), 0);
    std::vector<TcpSocket> clients(5);
    for (auto& client : clients) {
        ASSERT_EQ(client.Connect("127.0.0.1", server.LocalPort(), 1000), 0);
    }
    ASSERT_TRUE(WaitUntil([&] { return connects == 5; }));
    server.Stop();
    EXPECT_TRUE(server.Stopping());
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(disconnects, 5);
    for (auto& client : clients) {
        uint8_t byte = 0;
        EXPECT_NE(client.ReadExactly(&byte, 1), 0);
    }
    TcpSocket late;
    EXPECT_EQ(late.Connect("127.0.0.1", server.LocalPort(), 1000), ECONNREFUSED);
}

TEST(TcpServerTest, AnEscapingExceptionGoesToTheHandlerAndEndsTheConnection) {
    std::mutex mutex;
    std::string message;
    std::atomic<int> disconnects{0};
    TcpServer server(TcpServerHandlers{{},
                                       [](TcpConnection&) { throw std::runtime_error("boom"); },
                                       [&](TcpConnection&) { ++disconnects; },
                                       [&](TcpConnection&, const std::string& what) {
                                           std::lock_guard lock(mutex);
                                           message = what;
                                           throw std::runtime_error(
                                               "the handler's own failure is swallowed");
                                       }});
    ASSERT_EQ(server.Start("127.0.0.1", 0), 0);
    TcpSocket client;
    ASSERT_EQ(client.Connect("127.0.0.1", server.LocalPort(), 1000), 0);
    uint8_t byte = 0;
    EXPECT_EQ(client.ReadExactly(&byte, 1), ECONNRESET);
    EXPECT_TRUE(WaitUntil([&] { return disconnects == 1; }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(message, "boom");
}

TEST(TcpServerTest, ManyShortConnectionsLeaveNoThreadsBehind) {
    std::atomic<int> connects{0};
    TcpServer server(TcpServerHandlers{[&](TcpConnection& c) {
                                           ++connects;
                                           c.Close();
                                       },
                                       {},
                                       {},
                                       {}});
    ASSERT_EQ(server.Start("127.0.0.1", 0), 0);
    for (int i = 0; i < 50; ++i) {
        TcpSocket client;
        ASSERT_EQ(client.Connect("127.0.0.1", server.LocalPort(), 1000), 0);
        uint8_t byte = 0;
        EXPECT_EQ(client.ReadExactly(&byte, 1), ECONNRESET);
    }
    EXPECT_TRUE(WaitUntil([&] { return connects == 50 && server.ConnectionCount() == 0; }));
    EXPECT_EQ(server.Start("127.0.0.1", 0), EALREADY);
}

}  // namespace
}  // namespace brivanta::common
