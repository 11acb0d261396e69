#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "client/StreamLogin.h"
#include "common/Clock.h"
#include "common/TcpSocket.h"
#include "protocol/StreamTestKit.h"
#include "server/NetContact.h"
#include "server/StreamServer.h"

namespace brivanta::server {

// A stream server on loopback over a virtual clock, and clients that log in
// from chosen 127.x.y.z addresses (the slot table tells clients apart by
// address, so each test client gets its own).
struct StreamServerFixture : ::testing::Test {
    common::VirtualClock clock{100000};
    testkit::LogSink outLog;
    testkit::LogSink connectLog;
    TNetSender sender{clock, outLog.Writer(), connectLog.Writer()};
    StreamServer server{sender};
    const protocol::TStreamParams params{common::WaveFormatEx{85, 2, 44100, 16000, 1, 0, 12},
                                         "MPEG Layer-3 Codec", "128 kBit/s, 44,100 Hz, Stereo"};

    void StartServer(int slots = 16, const std::string& password = "secret") {
        sender.SetSlotCount(slots);
        sender.SetStreamParams(params);
        sender.SetPassword(password);
        ASSERT_EQ(server.Start("127.0.0.1", 0, slots), 0);
    }

    void TearDown() override { server.Stop(); }

    common::TcpSocket Connect(const std::string& local) {
        common::TcpSocket socket;
        EXPECT_EQ(socket.Connect("127.0.0.1", server.LocalPort(), 2000, local), 0);
        socket.SetReadTimeout(5000);
        return socket;
    }

    static std::string PeerText(const common::TcpSocket& socket, const std::string& local) {
        return local + ":" + std::to_string(socket.LocalPort());
    }

    // Logs in with the client's own handshake functions and waits for the
    // server to admit the client.
    common::TcpSocket Login(const std::string& local, uint16_t resume = protocol::kSeqNewest,
                            const std::string& password = "secret") {
        auto socket = Connect(local);
        client::ServerAnnouncement announcement;
        EXPECT_TRUE(client::ReadServerAnnouncement(socket, announcement).ok);
        EXPECT_TRUE(
            client::WriteClientAnswer(socket, password, protocol::TClientStart{3000, resume}, true)
                .ok);
        EXPECT_TRUE(connectLog.WaitFor("Start " + PeerText(socket, local)));
        return socket;
    }

    // Appends blocks whose payload is their own sequence number, low byte first.
    void AddBlocks(int count) {
        for (int i = 0; i < count; ++i) {
            const uint16_t seq = protocol::NextSeq(sender.LastSeq());
            const uint8_t payload[3] = {static_cast<uint8_t>(seq & 0xFF),
                                        static_cast<uint8_t>(seq >> 8), 0x5A};
            sender.AddBlock(payload, sizeof(payload), protocol::btMusic);
        }
    }

    // Reads `count` blocks and returns their numbers, checking each payload.
    static std::vector<uint16_t> ReadSeqs(common::TcpSocket& socket, int count) {
        std::vector<uint16_t> seqs;
        for (int i = 0; i < count; ++i) {
            protocol::TBlockHeader header;
            protocol::Bytes payload;
            if (client::ReadStreamBlock(socket, header, payload) != 0) {
                ADD_FAILURE() << "block " << i << " did not arrive";
                break;
            }
            EXPECT_EQ(payload.size(), 3u);
            if (payload.size() == 3) {
                EXPECT_EQ(payload[0] | (payload[1] << 8), header.seq);
            }
            seqs.push_back(header.seq);
        }
        return seqs;
    }

    // Reads until the server closes the connection; returns what came.
    static protocol::Bytes ReadToEnd(common::TcpSocket& socket) {
        protocol::Bytes bytes;
        uint8_t byte = 0;
        while (socket.ReadExactly(&byte, 1) == 0) {
            bytes.push_back(byte);
        }
        return bytes;
    }

    static void HalfClose(common::TcpSocket& socket) { shutdown(socket.Fd(), SHUT_WR); }

    std::optional<TClientSlot> SlotOf(const std::string& dotted) {
        for (const auto& slot : sender.Slots()) {
            if (slot.state != ssFree && slot.address == TNetSender::ParseAddress(dotted)) {
                return slot;
            }
        }
        return std::nullopt;
    }
};

}  // namespace brivanta::server
