#include "common/CommandLine.h"

#include <gtest/gtest.h>

namespace brivanta::common {
namespace {

TEST(CommandLine, ReadsEveryOption) {
    std::string error;
    const auto line = ParseCommandLine(
        {"--headless", "--config", "/etc/b.ini", "--status-interval", "500", "--play"}, true,
        error);
    ASSERT_TRUE(line.has_value()) << error;
    EXPECT_TRUE(line->headless);
    EXPECT_TRUE(line->play);
    EXPECT_EQ(line->configPath, "/etc/b.ini");
    EXPECT_EQ(line->statusIntervalMs, 500);

    const auto codecs =
        ParseCommandLine({"--list-codecs", "--rate", "48000", "--channels", "1"}, false, error);
    ASSERT_TRUE(codecs.has_value()) << error;
    EXPECT_TRUE(codecs->listCodecs);
    EXPECT_EQ(codecs->rate, 48000);
    EXPECT_EQ(codecs->channels, 1);
}

TEST(CommandLine, BadArgumentsAreNamed) {
    struct Case {
        std::vector<std::string> args;
        bool allowPlay;
        const char* error;
    } cases[] = {
        {{"--play"}, false, "unknown argument \"--play\""},
        {{"--bogus"}, true, "unknown argument \"--bogus\""},
        {{"--config"}, true, "--config needs a value"},
        {{"--status-interval", "0"},
         true,
         "--status-interval needs a number from 1 to 86400000, not \"0\""},
        {{"--channels", "3"}, true, "--channels needs a number from 1 to 2, not \"3\""},
        {{"--list-devices", "--list-codecs"},
         true,
         "--list-devices and --list-codecs cannot be combined"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseCommandLine(c.args, c.allowPlay, error).has_value());
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
}  // namespace brivanta::common
