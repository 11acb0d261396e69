#include "audio/WaveBufferRing.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace brivanta::audio {
namespace {

TEST(DeviceBufferRingTest, KeepsOrderAndRefusesWhenFull) {
    auto ring = std::make_unique<WaveBufferRing>();
    WaveBuffer buffers[2] = {WaveBuffer(1), WaveBuffer(1)};
    EXPECT_EQ(ring->Front(), nullptr);
    ASSERT_TRUE(ring->Push(&buffers[0]));
    ASSERT_TRUE(ring->Push(&buffers[1]));
    EXPECT_EQ(ring->Front(), &buffers[0]);
    ring->Pop();
    EXPECT_EQ(ring->Front(), &buffers[1]);
    ring->Pop();
    EXPECT_EQ(ring->Front(), nullptr);

    for (size_t i = 0; i < WaveBufferRing::kCapacity; ++i) {
        ASSERT_TRUE(ring->Push(&buffers[0]));
    }
    EXPECT_FALSE(ring->Push(&buffers[1]));
    ring->Pop();
    EXPECT_TRUE(ring->Push(&buffers[1]));
}

// An owner thread hands buffers over while an audio thread works them off:
// every buffer arrives once, in order, with its data visible.
TEST(DeviceBufferRingTest, PassesBuffersBetweenTwoThreadsInOrder) {
    constexpr size_t kCount = 50000;
    auto ring = std::make_unique<WaveBufferRing>();
    std::vector<std::unique_ptr<WaveBuffer>> buffers;
    for (size_t i = 0; i < kCount; ++i) {
        buffers.push_back(std::make_unique<WaveBuffer>(sizeof(size_t)));
        *reinterpret_cast<size_t*>(buffers.back()->data.data()) = i;
    }
    std::thread consumer([&] {
        for (size_t expected = 0; expected < kCount;) {
            WaveBuffer* buffer = ring->Front();
            if (buffer == nullptr) {
                std::this_thread::yield();
                continue;
            }
            EXPECT_TRUE(buffer->TryClaim());
            EXPECT_EQ(*reinterpret_cast<const size_t*>(buffer->data.data()), expected);
            buffer->MarkFinished();
            ring->Pop();
            ++expected;
        }
    });
    for (size_t i = 0; i < kCount;) {
        if (ring->Push(buffers[i].get())) {
            ++i;
        } else {
            std::this_thread::yield();
        }
    }
    consumer.join();
    for (const auto& buffer : buffers) {
        EXPECT_TRUE(buffer->IsFinished());
    }
}

TEST(DeviceBufferRingTest, OwnerRewritesOnlyBuffersTheDeviceHasNotBegun) {
    WaveBuffer buffer(4);
    ASSERT_TRUE(buffer.TryBeginRewrite());
    EXPECT_FALSE(buffer.TryClaim());  // the device comes back later
    buffer.EndRewrite();
    EXPECT_TRUE(buffer.TryClaim());
    EXPECT_TRUE(buffer.TryClaim());  // still its own
    EXPECT_FALSE(buffer.TryBeginRewrite());
    EXPECT_FALSE(buffer.IsFinished());
    buffer.MarkFinished();
    EXPECT_TRUE(buffer.IsFinished());
    EXPECT_FALSE(buffer.TryBeginRewrite());
}

}  // namespace
}  // namespace brivanta::audio
