#include "common/EventLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace brivanta::common {
namespace {

struct EventLoopTest : ::testing::Test {
    VirtualClock clock{0};
    EventLoop loop{clock};
    std::vector<std::string> events;

    void Record(const std::string& what) { events.push_back(what + "@" + std::to_string(clock.NowMs())); }
};

TEST_F(EventLoopTest, RunsPostedTasksInOrderAndTimersOnTime) {
    loop.Post([&] { Record("a"); });
    loop.Post([&] { Record("b"); });
    loop.AddTimer(40, [&] { Record("t40"); });
    loop.PostAfter(30, [&] { Record("once"); });
    loop.AdvanceVirtual(clock, 100);
    EXPECT_EQ(events, (std::vector<std::string>{"a@0", "b@0", "once@30", "t40@40", "t40@80"}));
    EXPECT_EQ(clock.NowMs(), 100);
}

TEST_F(EventLoopTest, RemovedTimerStopsEvenFromItsOwnTask) {
    EventLoop::TimerId id = 0;
    int fired = 0;
    id = loop.AddTimer(10, [&] {
        if (++fired == 3) {
            loop.RemoveTimer(id);
        }
    });
    loop.AdvanceVirtual(clock, 200);
    EXPECT_EQ(fired, 3);
    loop.RemoveTimer(id);  // again: nothing happens
    loop.RemoveTimer(12345);
}

TEST_F(EventLoopTest, TaskPostedByATaskRunsInTheSamePass) {
    loop.Post([&] {
        Record("outer");
        loop.Post([&] { Record("inner"); });
    });
    loop.RunDue();
    EXPECT_EQ(events, (std::vector<std::string>{"outer@0", "inner@0"}));
}

TEST_F(EventLoopTest, ATimerThatFallsBehindDoesNotBurst) {
    int fired = 0;
    loop.AddTimer(10, [&] { ++fired; });
    clock.Advance(100);  // ten periods pass without the loop running
    loop.RunDue();
    EXPECT_EQ(fired, 1);
    loop.AdvanceVirtual(clock, 10);
    EXPECT_EQ(fired, 2);
}

TEST_F(EventLoopTest, AnEscapingExceptionIsReportedAndTheLoopGoesOn) {
    std::string error;
    loop.SetErrorHandler([&](const std::string& text) { error = text; });
    loop.Post([] { throw std::runtime_error("boom"); });
    loop.Post([&] { Record("after"); });
    loop.RunDue();
    EXPECT_EQ(error, "boom");
    EXPECT_EQ(events, (std::vector<std::string>{"after@0"}));
}

TEST(EventLoopRealTime, RunsTasksPostedFromOtherThreadsUntilQuit) {
    SystemClock clock;
    EventLoop loop(clock);
    std::atomic<int> ran{0};
    std::thread driver([&] { loop.Run(); });
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                loop.Post([&] { ++ran; });
            }
        });
    }
    for (auto& p : posters) {
        p.join();
    }
    loop.Post([&] { loop.Quit(); });
    driver.join();
    EXPECT_EQ(ran.load(), 400);
}

TEST(EventLoopRealTime, QuitBeforeRunReturnsAtOnce) {
    SystemClock clock;
    EventLoop loop(clock);
    loop.AddTimer(1000, [] {});
    loop.Quit();
    loop.Run();
}

}  // namespace
}  // namespace brivanta::common
