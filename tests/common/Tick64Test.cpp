#include "common/Tick64.h"

#include <gtest/gtest.h>

#include <vector>

namespace brivanta::common {
namespace {

// A tick source that replays a fixed series of ticks.
Tick64 ReplayTicks(std::vector<uint32_t> ticks) {
    auto index = std::make_shared<size_t>(0);
    return Tick64([ticks = std::move(ticks), index] { return ticks[(*index)++]; });
}

TEST(Tick64, CountsTheWrapOfTheTick) {
    Tick64 tick = ReplayTicks({4294967295u, 5, 5, 7});
    const int64_t beforeWrap = tick.Get();
    const int64_t afterWrap = tick.Get();
    EXPECT_EQ(beforeWrap, 4294967295LL);
    EXPECT_EQ(afterWrap, (1LL << 32) + 5);
    EXPECT_EQ(afterWrap - beforeWrap, 6);
    EXPECT_EQ(tick.Get(), afterWrap);  // the same tick twice is the same time
    EXPECT_EQ(tick.Get(), (1LL << 32) + 7);
}

TEST(Tick64, CountsEveryWrap) {
    Tick64 tick = ReplayTicks({100, 50, 10, 20});
    EXPECT_EQ(tick.Get(), 100);
    EXPECT_EQ(tick.Get(), (1LL << 32) + 50);
    EXPECT_EQ(tick.Get(), (2LL << 32) + 10);
    EXPECT_EQ(tick.Get(), (2LL << 32) + 20);
}

TEST(Tick64, SystemTickMoves) {
    Tick64 tick(SystemTick32);
    const int64_t first = tick.Get();
    EXPECT_GE(first, 0);
    EXPECT_GE(tick.Get(), first);
}

}  // namespace
}  // namespace brivanta::common
