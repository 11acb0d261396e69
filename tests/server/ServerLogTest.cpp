#include "server/ServerLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "TempDir.h"
#include "common/DateTime.h"

namespace brivanta::server {
namespace {

struct ServerLogTest : ::testing::Test {
    test::TempDir dir;
    // 11.12.26 23:59:58 local
    common::VirtualClock clock{0, *common::EncodeDateTime({2026, 12, 11, 23, 59, 58, 0})};
    TServerLog log{clock, dir.Root().string()};

    // One work tick of the engine: a log entry, and the file every fifth tick.
    void Ticks(int count) {
        for (int tick = 0; tick < count; ++tick) {
            log.ShowLog();
            if (tick % 5 == 0) {
                log.OutLogToFile();
            }
            clock.Advance(40);
        }
    }
};

TEST_F(ServerLogTest, ABurstIsShownOnePerTickAndFiledInOrder) {
    for (int i = 0; i < 100; ++i) {
        log.OutLog("event " + std::to_string(i));
    }
    Ticks(101);
    ASSERT_EQ(log.Rows().size(), 64u);
    EXPECT_EQ(log.Rows().front().Text, "event 99");
    EXPECT_EQ(log.Rows().back().Text, "event 36");
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        expected += "11.12.26 23:59:58 event " + std::to_string(i) + "\r\n";
    }
    EXPECT_EQ(test::ReadFileText(dir.Path("Log/s26-12-11.log")), expected);
}

TEST_F(ServerLogTest, FirstRowIsStartProgramAndNotFiled) {
    ASSERT_EQ(log.Rows().size(), 1u);
    EXPECT_EQ(log.Rows().front().Text, "Start program");
    Ticks(10);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("Log")));
}

TEST_F(ServerLogTest, LinesGoToTheFileOfTheirDay) {
    log.OutLog("before midnight");
    clock.Advance(3000);
    log.OutLog("after midnight");
    log.Flush();
    EXPECT_EQ(test::ReadFileText(dir.Path("Log/s26-12-11.log")),
              "11.12.26 23:59:58 before midnight\r\n");
    EXPECT_EQ(test::ReadFileText(dir.Path("Log/s26-12-12.log")),
              "12.12.26 00:00:01 after midnight\r\n");
}

TEST_F(ServerLogTest, TextsAreCutAt192Bytes) {
    log.OutLog(std::string(300, 'x'));
    log.OutLog(std::string(191, 'x') + "Ж");  // cutting would split the letter
    log.ShowLog();
    log.ShowLog();
    EXPECT_EQ(log.Rows()[1].Text.size(), 192u);
    EXPECT_EQ(log.Rows()[0].Text, std::string(191, 'x'));
}

TEST_F(ServerLogTest, AnUnwritableFolderDropsOnlyThePendingLines) {
    std::ofstream(dir.Path("Log")) << "a file where the folder should be";
    log.OutLog("lost");
    log.ShowLog();
    EXPECT_FALSE(log.OutLogToFile());
    std::filesystem::remove(dir.Path("Log"));
    log.OutLog("kept");
    log.ShowLog();
    EXPECT_TRUE(log.OutLogToFile());
    EXPECT_EQ(test::ReadFileText(dir.Path("Log/s26-12-11.log")), "11.12.26 23:59:58 kept\r\n");
}

TEST_F(ServerLogTest, FlushWritesWhatIsStillQueuedAtClosing) {
    log.OutLog("stopping");
    log.OutLog("stopped");
    log.Flush();
    EXPECT_EQ(test::ReadFileText(dir.Path("Log/s26-12-11.log")),
              "11.12.26 23:59:58 stopping\r\n11.12.26 23:59:58 stopped\r\n");
}

TEST_F(ServerLogTest, AnyThreadMayLog) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 250; ++i) {
                log.OutLog("thread " + std::to_string(t));
                log.AddHello("Connect..." + std::to_string(t));
            }
        });
    }
    int shown = 0;
    while (shown < 1000) {
        if (log.ShowLog()) {
            ++shown;
        }
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(log.HelloLines().size(), 1000u);
    EXPECT_FALSE(log.ShowLog().has_value());
}

}  // namespace
}  // namespace brivanta::server
