#include "audio/DeviceRingTransfer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace brivanta::audio {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;

std::unique_ptr<WaveBuffer> Block(std::vector<uint8_t> bytes) {
    auto buffer = std::make_unique<WaveBuffer>(bytes.size());
    buffer->data = std::move(bytes);
    buffer->bytesUsed = static_cast<uint32_t>(buffer->data.size());
    return buffer;
}

TEST(DeviceRingTransferTest, RecordsWholeFramesIntoTheBuffersInOrder) {
    DeviceRingTransfer transfer(4, 0);
    const std::vector<uint8_t> none(8, 9);
    transfer.Record(none.data(), none.size());  // before the first buffer: no overrun
    EXPECT_EQ(transfer.Counters().overruns, 0u);

    WaveBuffer first(10);  // room for two frames only
    WaveBuffer second(8);
    ASSERT_TRUE(transfer.Hand(first));
    ASSERT_TRUE(transfer.Hand(second));
    const std::vector<uint8_t> audio = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    transfer.Record(audio.data(), audio.size());
    ASSERT_TRUE(first.IsFinished());
    EXPECT_EQ(first.bytesUsed, 8u);
    EXPECT_THAT(first.data, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 0, 0));
    EXPECT_FALSE(second.IsFinished());
    transfer.Record(nullptr, 4);  // no input data: silence
    ASSERT_TRUE(second.IsFinished());
    EXPECT_THAT(second.data, ElementsAre(9, 10, 11, 12, 0, 0, 0, 0));

    transfer.Record(audio.data(), 4);
    transfer.Record(audio.data(), 4);  // the same dry spell
    EXPECT_EQ(transfer.Counters().overruns, 1u);
    transfer.HostOverrun();
    EXPECT_EQ(transfer.Counters().overruns, 2u);
}

TEST(DeviceRingTransferTest, PlaysAcrossBlocksAndFillsSilenceWhenDry) {
    DeviceRingTransfer transfer(2, 128);
    auto a = Block({1, 2, 3});
    auto empty = Block({});
    auto b = Block({4, 5});
    std::vector<uint8_t> out(4, 0);
    transfer.Play(out.data(), out.size());  // before the first block: no underrun
    EXPECT_THAT(out, Each(128));
    ASSERT_TRUE(transfer.Hand(*a));
    ASSERT_TRUE(transfer.Hand(*empty));
    ASSERT_TRUE(transfer.Hand(*b));
    transfer.Play(out.data(), 4);
    EXPECT_THAT(out, ElementsAre(1, 2, 3, 4));
    EXPECT_TRUE(a->IsFinished());
    EXPECT_TRUE(empty->IsFinished());
    EXPECT_FALSE(b->IsFinished());
    transfer.Play(out.data(), 4);
    EXPECT_THAT(out, ElementsAre(5, 128, 128, 128));
    EXPECT_TRUE(b->IsFinished());
    transfer.Play(out.data(), 4);
    EXPECT_EQ(transfer.Counters().underruns, 1u);
}

TEST(DeviceRingTransferTest, BlockBeingRewrittenIsPlayedLater) {
    DeviceRingTransfer transfer(2, 0);
    auto block = Block({7, 7});
    ASSERT_TRUE(transfer.Hand(*block));
    ASSERT_TRUE(block->TryBeginRewrite());
    std::vector<uint8_t> out(2, 1);
    transfer.Play(out.data(), 2);
    EXPECT_THAT(out, ElementsAre(0, 0));
    block->data = {3, 3};
    block->EndRewrite();
    transfer.Play(out.data(), 2);
    EXPECT_THAT(out, ElementsAre(3, 3));
    EXPECT_TRUE(block->IsFinished());
}

TEST(DeviceRingTransferTest, ClearForgetsQueuedBuffers) {
    DeviceRingTransfer transfer(2, 0);
    auto block = Block({1, 2, 3, 4});
    ASSERT_TRUE(transfer.Hand(*block));
    std::vector<uint8_t> out(2);
    transfer.Play(out.data(), 2);
    transfer.Clear();
    transfer.Play(out.data(), 2);
    EXPECT_THAT(out, ElementsAre(0, 0));
    EXPECT_FALSE(block->IsFinished());
}

TEST(DeviceRingTransferTest, DetachedCallbacksLeaveTheBuffersAlone) {
    DeviceRingTransfer transfer(2, 128);
    auto block = Block({1, 2});
    ASSERT_TRUE(transfer.Hand(*block));
    transfer.Detach();
    std::vector<uint8_t> out(2, 0);
    transfer.Play(out.data(), 2);
    EXPECT_THAT(out, ElementsAre(128, 128));
    EXPECT_FALSE(block->IsFinished());
    transfer.Attach();
    transfer.Play(out.data(), 2);
    EXPECT_THAT(out, ElementsAre(1, 2));
    EXPECT_TRUE(block->IsFinished());
}

// An audio thread that never stops (a host that failed to stop the stream)
// while the owner resets and frees its buffers again and again: once Detach
// has returned, no callback touches a freed buffer (the sanitizer builds
// check that).
TEST(DeviceRingTransferTest, DetachMakesFreeingSafeWhileCallbacksGoOn) {
    DeviceRingTransfer transfer(4, 0);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<uint8_t> in(64, 5);
        while (!stop.load()) {
            transfer.Record(in.data(), in.size());
        }
    });
    for (int round = 0; round < 300; ++round) {
        std::vector<std::unique_ptr<WaveBuffer>> buffers;
        for (int i = 0; i < 4; ++i) {
            buffers.push_back(std::make_unique<WaveBuffer>(32));
            ASSERT_TRUE(transfer.Hand(*buffers.back()));
        }
        transfer.Attach();
        std::this_thread::yield();
        transfer.Detach();
        transfer.Clear();
    }  // the buffers are freed here, the audio thread still running
    stop = true;
    audio.join();
}

// The owner queues and rewrites blocks while an audio thread plays them:
// every byte arrives once and in order, and no byte is touched by both at
// once (the thread sanitizer build checks that).
TEST(DeviceRingTransferTest, OwnerAndAudioThreadShareBlocksSafely) {
    constexpr int kBlocks = 2000;
    const auto value = [](int i) { return static_cast<uint8_t>(i % 255 + 1); };  // never silence
    DeviceRingTransfer transfer(2, 0);
    std::vector<std::unique_ptr<WaveBuffer>> blocks;
    std::vector<uint8_t> expected;
    for (int i = 0; i < kBlocks; ++i) {
        blocks.push_back(Block({value(i), value(i)}));
        expected.insert(expected.end(), {value(i), value(i)});
    }
    std::atomic<bool> stop{false};
    std::vector<uint8_t> heard;
    std::thread audio([&] {
        std::vector<uint8_t> out(6);
        while (!stop.load()) {
            transfer.Play(out.data(), out.size());
            for (uint8_t byte : out) {
                if (byte != 0) {
                    heard.push_back(byte);
                }
            }
        }
    });
    for (int i = 0; i < kBlocks; ++i) {
        while (!transfer.Hand(*blocks[i])) {
            std::this_thread::yield();
        }
        WaveBuffer& previous = *blocks[i > 0 ? i - 1 : 0];
        if (previous.TryBeginRewrite()) {
            previous.data.assign(2, value(i > 0 ? i - 1 : 0));
            previous.EndRewrite();
        }
    }
    while (!blocks.back()->IsFinished()) {
        std::this_thread::yield();
    }
    stop = true;
    audio.join();
    EXPECT_EQ(heard, expected);
}

}  // namespace
}  // namespace brivanta::audio
