#include "common/AutoStart.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TempDir.h"

namespace brivanta::common {
namespace {

namespace fs = std::filesystem;

struct AutoStartTest : ::testing::Test {
    test::TempDir home;
    AutoStartFolders folders{home.Path("user/autostart"), {home.Path("machine/autostart")}};
    const std::string exe = "/opt/Brivanta/BrivantaClient";

    void PutEntry(const std::string& folder, const std::string& name, const std::string& exec) {
        fs::create_directories(folder);
        std::ofstream(fs::path(folder) / (name + ".desktop"))
            << "[Desktop Entry]\nType=Application\nExec=" << exec << "\n";
    }
    bool HasEntry(const std::string& name) const {
        return fs::exists(fs::path(folders.user) / (name + ".desktop"));
    }
};

TEST_F(AutoStartTest, OnWritesTheFirstFreeName) {
    PutEntry(folders.user, "BrivantaClient", "/usr/bin/other");
    PutEntry(folders.user, "BrivantaClient1", "/usr/bin/another --flag");
    EXPECT_FALSE(IsAutoStartEnabled(folders, exe));
    ASSERT_FALSE(SetAutoStart(folders, exe, true, "BrivantaClient").has_value());
    EXPECT_TRUE(HasEntry("BrivantaClient2"));
    EXPECT_TRUE(IsAutoStartEnabled(folders, exe));
    // A second On finds the entry and writes nothing.
    ASSERT_FALSE(SetAutoStart(folders, exe, true, "BrivantaClient").has_value());
    EXPECT_FALSE(HasEntry("BrivantaClient3"));
}

TEST_F(AutoStartTest, OffRemovesEveryEntryOfThisExecutableIgnoringCase) {
    PutEntry(folders.user, "first", "\"/OPT/brivanta/BrivantaClient\"");
    PutEntry(folders.user, "second", "/opt/Brivanta/BrivantaClient --headless");
    PutEntry(folders.user, "stranger", "/usr/bin/other");
    EXPECT_TRUE(IsAutoStartEnabled(folders, exe));
    ASSERT_FALSE(SetAutoStart(folders, exe, false, "BrivantaClient").has_value());
    EXPECT_FALSE(HasEntry("first"));
    EXPECT_FALSE(HasEntry("second"));
    EXPECT_TRUE(HasEntry("stranger"));
    EXPECT_FALSE(IsAutoStartEnabled(folders, exe));
}

TEST_F(AutoStartTest, TheMachineEntryCountsButIsNeverChanged) {
    PutEntry(folders.machine[0], "BrivantaClient", exe);
    EXPECT_TRUE(IsAutoStartEnabled(folders, exe));
    ASSERT_FALSE(SetAutoStart(folders, exe, false, "BrivantaClient").has_value());
    EXPECT_TRUE(fs::exists(fs::path(folders.machine[0]) / "BrivantaClient.desktop"));
    EXPECT_TRUE(IsAutoStartEnabled(folders, exe));
}

TEST_F(AutoStartTest, PathsWithSpacesAndQuotesSurviveTheExecLine) {
    const std::string odd = "/opt/My Radio/\"Brivanta\" 100%";
    ASSERT_FALSE(SetAutoStart(folders, odd, true, "BrivantaServer").has_value());
    EXPECT_TRUE(HasEntry("BrivantaServer"));
    EXPECT_TRUE(IsAutoStartEnabled(folders, odd));
    EXPECT_EQ(ExecProgram(QuoteExec("/a b/c")), "/a b/c");
}

TEST(AutoStartFolders, FollowTheEnvironment) {
    setenv("XDG_CONFIG_HOME", "/tmp/h", 1);
    setenv("XDG_CONFIG_DIRS", "/etc/one:/etc/two", 1);
    const AutoStartFolders f = AutoStartFolders::FromEnvironment();
    EXPECT_EQ(f.user, "/tmp/h/autostart");
    EXPECT_EQ(f.machine, (std::vector<std::string>{"/etc/one/autostart", "/etc/two/autostart"}));
    unsetenv("XDG_CONFIG_DIRS");
    setenv("HOME", "/home/u", 1);
    unsetenv("XDG_CONFIG_HOME");
    const AutoStartFolders d = AutoStartFolders::FromEnvironment();
    EXPECT_EQ(d.user, "/home/u/.config/autostart");
    EXPECT_EQ(d.machine, (std::vector<std::string>{"/etc/xdg/autostart"}));
}

}  // namespace
}  // namespace brivanta::common
