#include "server/NetContact.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brivanta::server {
namespace {

constexpr IPv4Address kA{10, 0, 0, 1};
constexpr IPv4Address kB{10, 0, 0, 2};

TClientSlot Record(const IPv4Address& address, uint16_t port, uint16_t buffer = 0) {
    TClientSlot record;
    record.address = address;
    record.port = port;
    record.bufferLength = buffer;
    return record;
}

struct NetContactTest : ::testing::Test {
    common::VirtualClock clock{5000};
    TNetSender sender{clock, {}, {}};

    NetContactTest() { sender.SetSlotCount(4); }

    void Advance(int64_t ms) {
        clock.Advance(ms);
        sender.UpdateNow();
    }
};

TEST_F(NetContactTest, SequenceNumbersStartAtOneAndSkip0xFFFF) {
    const uint8_t byte = 1;
    sender.AddBlock(&byte, 1, protocol::btMusic);
    EXPECT_EQ(sender.LastSeq(), 1);
    for (int i = 1; i < 65534; ++i) {
        sender.AddBlock(&byte, 1, protocol::btMusic);
    }
    EXPECT_EQ(sender.LastSeq(), 65534);
    sender.AddBlock(&byte, 1, 7);
    EXPECT_EQ(sender.LastSeq(), 0);
    sender.AddBlock(&byte, 1, protocol::btMusic);
    EXPECT_EQ(sender.LastSeq(), 1);
    EXPECT_EQ(sender.QueueSize(), TNetSender::kMaxQueuedBlocks);
}

TEST_F(NetContactTest, EmptyBlockOnAFullQueueDropsTheOldestAndQueuesNothing) {
    const uint8_t byte = 1;
    for (size_t i = 0; i < TNetSender::kMaxQueuedBlocks; ++i) {
        sender.AddBlock(&byte, 1, protocol::btMusic);
    }
    sender.AddBlock(nullptr, 0, protocol::btMusic);
    EXPECT_EQ(sender.QueueSize(), TNetSender::kMaxQueuedBlocks - 1);
    EXPECT_EQ(sender.LastSeq(), TNetSender::kMaxQueuedBlocks);
    sender.ClearQueue();
    EXPECT_EQ(sender.QueueSize(), 0u);
    sender.AddBlock(&byte, 1, protocol::btMusic);
    EXPECT_EQ(sender.LastSeq(), TNetSender::kMaxQueuedBlocks + 1);  // never reset
}

TEST_F(NetContactTest, RefusalByteCountsTheTenthsLeftPlusOne) {
    struct Case {
        int tenths;
        int64_t elapsedMs;
        uint8_t expected;
    };
    const std::vector<Case> cases = {
        {20, 0, 21},   {254, 0, 255}, {300, 0, 255}, {20, 1950, 1},
        {20, 2000, 1}, {20, 2040, 1}, {5, 10, 5},
    };
    for (const auto& c : cases) {
        TNetSender fresh(clock, {}, {});
        fresh.SetSlotCount(2);
        fresh.UpdateNow();
        fresh.Refuse(Record(kA, 1), c.tenths);
        clock.Advance(c.elapsedMs);
        fresh.UpdateNow();
        EXPECT_EQ(fresh.RefusalFor(kA), c.expected) << c.tenths << " " << c.elapsedMs;
        EXPECT_EQ(fresh.RefusalFor(kB), 0);
    }
}

TEST_F(NetContactTest, SweepClearsOnTheFirstTickAfterTheHold) {
    sender.Refuse(Record(kA, 1), 20);
    sender.TakeSlot(Record(kB, 2, 3000));
    Advance(2000);
    sender.Sweep();
    EXPECT_EQ(sender.Slots()[0].state, ssBanned);  // equal is not past
    Advance(40);
    sender.Sweep();
    EXPECT_EQ(sender.Slots()[0], TClientSlot{});
    EXPECT_EQ(sender.Slots()[1].state, ssOnline);  // no hold: never swept
}

TEST_F(NetContactTest, SlotsAreFoundByAddressOrFreedomFromIndexZero) {
    EXPECT_EQ(sender.TakeSlot(Record(kA, 100)), protocol::lrAdmitted);
    EXPECT_EQ(sender.TakeSlot(Record(kB, 200)), protocol::lrAdmitted);
    EXPECT_EQ(sender.FindSlotFor(kB), 1);
    EXPECT_EQ(sender.FindSlotFor(IPv4Address{1, 2, 3, 4}), 2);

    // A second login from kB takes over kB's slot, whatever its port.
    EXPECT_EQ(sender.TakeSlot(Record(kB, 201)), protocol::lrAdmitted);
    EXPECT_EQ(sender.Slots()[1].port, 201);
    EXPECT_EQ(sender.Slots()[2].state, ssFree);

    sender.Refuse(Record(kB, 202), 20);  // a refusal replaces the slot too
    EXPECT_EQ(sender.Slots()[1].state, ssBanned);
    EXPECT_EQ(sender.Slots()[1].holdUntil, sender.FNow() + 2000);

    sender.SetSlotCount(2);
    sender.Refuse(Record(IPv4Address{1, 1, 1, 1}, 1), 20);  // no slot: nothing recorded
    EXPECT_EQ(sender.TakeSlot(Record(IPv4Address{1, 1, 1, 1}, 1)), protocol::lrNoSlot);
    EXPECT_EQ(sender.FindSlotFor(IPv4Address{1, 1, 1, 1}), -1);
}

TEST_F(NetContactTest, ShrinkingTheTableDropsTheSlotsAboveAndGrowingAddsFreeOnes) {
    for (uint8_t i = 0; i < 4; ++i) {
        sender.TakeSlot(Record(IPv4Address{10, 0, 1, i}, 1));
    }
    sender.SetSlotCount(2);
    EXPECT_EQ(sender.SlotCount(), 2);
    sender.SetSlotCount(4);
    const auto slots = sender.Slots();
    EXPECT_EQ(slots[1].state, ssOnline);
    EXPECT_EQ(slots[2], TClientSlot{});
    EXPECT_EQ(slots[3], TClientSlot{});
    sender.ClearSlot(1);
    EXPECT_EQ(sender.Slots()[1], TClientSlot{});
}

TEST(NetContactTextTest, AddressTextsAndParsing) {
    EXPECT_EQ(TNetSender::AddressText({192, 168, 0, 17}), "192.168.0.17");
    EXPECT_EQ(TNetSender::AddressPortText({127, 0, 0, 1}, 65535), "127.0.0.1:65535");
    EXPECT_EQ(TNetSender::ParseAddress("192.168.0.17"), (IPv4Address{192, 168, 0, 17}));
    EXPECT_EQ(TNetSender::ParseAddress("300.x.-1.4"), (IPv4Address{0, 0, 0, 4}));
    EXPECT_EQ(TNetSender::ParseAddress(""), (IPv4Address{0, 0, 0, 0}));
    EXPECT_EQ(TNetSender::ParseAddress("1.2"), (IPv4Address{1, 2, 0, 0}));
}

TEST(NetContactTextTest, LoginLogLines) {
    const std::vector<std::pair<uint8_t, std::string>> lines = {
        {0, "Stream open for 1.2.3.4"},
        {1, "Error send info to 1.2.3.4"},
        {2, "No Brivanta on 1.2.3.4"},
        {3, "No flag client received"},
        {5, "Invalid version on 1.2.3.4"},
        {6, "Invalid password send from 1.2.3.4"},
        {7, "Error start codec on 1.2.3.4"},
        {8, "Error read start data from 1.2.3.4"},
        {10, "Error agreement stream on 1.2.3.4"},
        {254, "Error read password from 1.2.3.4"},
        {255, ""},
    };
    for (const auto& [code, line] : lines) {
        EXPECT_EQ(TNetSender::LoginLogLine(code, false, "1.2.3.4"), line) << int(code);
    }
    EXPECT_EQ(TNetSender::LoginLogLine(0, true, "1.2.3.4"), "Restore connect 1.2.3.4");
}

}  // namespace
}  // namespace brivanta::server
