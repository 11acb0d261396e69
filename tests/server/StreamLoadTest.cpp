#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "server/StreamServerFixture.h"

namespace brivanta::server {
namespace {

constexpr int kClients = 200;
constexpr int kBlocksPerWriter = 150;

// What one client saw: every block once, in order, each writer's blocks in
// the order that writer appended them.
struct Reception {
    bool loggedIn = false;
    std::vector<uint16_t> seqs;
    bool writerOrderKept = true;
};

void Receive(common::TcpSocket& socket, Reception& reception) {
    int nextOfWriter[2] = {0, 0};
    for (int i = 0; i < 2 * kBlocksPerWriter; ++i) {
        protocol::TBlockHeader header;
        protocol::Bytes payload;
        if (client::ReadStreamBlock(socket, header, payload) != 0 || payload.size() != 3) {
            return;
        }
        reception.seqs.push_back(header.seq);
        const int writer = payload[0];
        const int index = payload[1] | (payload[2] << 8);
        if (writer > 1 || index != nextOfWriter[writer]++) {
            reception.writerOrderKept = false;
        }
    }
}

using StreamLoadTest = StreamServerFixture;

TEST_F(StreamLoadTest, ManyClientsEachReceiveEveryBlockOnceInOrder) {
    StartServer(256);
    std::vector<Reception> receptions(kClients);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([this, i, &receptions] {
            common::TcpSocket socket;
            const std::string local = "127.0.1." + std::to_string(i + 1);
            if (socket.Connect("127.0.0.1", server.LocalPort(), 5000, local) != 0) {
                return;
            }
            socket.SetReadTimeout(10000);
            client::ServerAnnouncement announcement;
            // Resume at 1: the first block to be queued, so nothing is missed.
            receptions[i].loggedIn =
                client::ReadServerAnnouncement(socket, announcement).ok &&
                client::WriteClientAnswer(socket, "secret", {3000, 1}, true).ok;
            if (receptions[i].loggedIn) {
                Receive(socket, receptions[i]);
            }
        });
    }
    ASSERT_TRUE(testkit::WaitUntil([&] {
        int online = 0;
        for (const auto& slot : sender.Slots()) {
            online += slot.state == ssOnline ? 1 : 0;
        }
        return online == kClients;
    }));

    std::vector<std::thread> writers;
    for (uint8_t writer = 0; writer < 2; ++writer) {
        writers.emplace_back([this, writer] {
            for (int index = 0; index < kBlocksPerWriter; ++index) {
                const uint8_t payload[3] = {writer, static_cast<uint8_t>(index & 0xFF),
                                            static_cast<uint8_t>(index >> 8)};
                sender.AddBlock(payload, sizeof(payload), protocol::btMusic);
                std::this_thread::yield();
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    for (auto& client : clients) {
        client.join();
    }

    std::vector<uint16_t> expected;
    for (int seq = 1; seq <= 2 * kBlocksPerWriter; ++seq) {
        expected.push_back(static_cast<uint16_t>(seq));
    }
    for (int i = 0; i < kClients; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(receptions[i].loggedIn);
        EXPECT_EQ(receptions[i].seqs, expected);
        EXPECT_TRUE(receptions[i].writerOrderKept);
    }
}

}  // namespace
}  // namespace brivanta::server
