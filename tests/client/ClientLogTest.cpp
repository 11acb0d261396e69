#include "client/ClientLog.h"

#include <gtest/gtest.h>

#include <regex>

namespace brivanta::client {
namespace {

TEST(ClientLogTest, NewestFirstAndAt255EntriesTheOldestFallsOff) {
    common::VirtualClock clock;
    std::vector<std::string> printed;
    TClientLog log(clock, [&](const TLogEntry& entry) { printed.push_back(entry.Line()); });
    log.OutLog("Start program");
    for (int i = 1; i <= 254; ++i) {
        log.OutLog("entry " + std::to_string(i));
    }
    EXPECT_EQ(log.Count(), 255u);
    EXPECT_EQ(log.Entries().back().text, "Start program");
    log.OutLog("entry 255");
    const auto entries = log.Entries();
    ASSERT_EQ(entries.size(), 255u);
    EXPECT_EQ(entries.front().text, "entry 255");
    EXPECT_EQ(entries.back().text, "entry 1");
    ASSERT_EQ(printed.size(), 256u);
    EXPECT_TRUE(std::regex_match(printed.front(),
                                 std::regex(R"(\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d Start program)")))
        << printed.front();
}

TEST(ClientLogTest, TheLineIsTheTimeStampAndTheText) {
    const auto day = common::EncodeDateTime({2026, 3, 7, 9, 5, 4, 0});
    ASSERT_TRUE(day);
    EXPECT_EQ((TLogEntry{*day, "Client ready"}).Line(), "07.03.26 09:05:04 Client ready");
}

}  // namespace
}  // namespace brivanta::client
