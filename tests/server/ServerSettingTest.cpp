#include "server/ServerSetting.h"

#include <gtest/gtest.h>

#include "TempDir.h"

namespace brivanta::server {
namespace {

struct ServerSettingTest : ::testing::Test {
    test::TempDir dir;
    const std::string path = dir.Path("BrivantaServer.ini");
    TSetting s;
    bool author = true;

    void Store(const std::string& text) const { test::WriteFileText(path, text); }
    std::string Stored() const { return test::ReadFileText(path); }
};

TEST_F(ServerSettingTest, MissingFileGivesTheDefaults) {
    ASSERT_TRUE(ReadSettings(path, s, author).ok);
    EXPECT_EQ(s.Name, "");
    EXPECT_EQ(s.Port, 2102);
    EXPECT_FALSE(s.Auto);
    EXPECT_EQ(s.BlockSize, 1);
    EXPECT_EQ(s.Bitrate, 44100);
    EXPECT_EQ(s.Channles, 2);
    EXPECT_EQ(s.MaxConnections, 256);
    EXPECT_EQ(s.Tag, 85);
    EXPECT_EQ(s.FormatIndex, 0);
    EXPECT_EQ(s.ExtMode, 0);
    EXPECT_EQ(s.ExtPort, 2105);
    EXPECT_EQ(s.ExtPID, 1);
    EXPECT_EQ(s.PluginPath, dir.Root().string());
    EXPECT_TRUE(s.PluginsInUse.empty());
    EXPECT_FALSE(author);
    ASSERT_TRUE(ReadPosition(path, s).ok);
    EXPECT_EQ(s.Position, (common::WindowBounds{-1, -1, -1, -1}));
}

TEST_F(ServerSettingTest, ClampsAndTheRateTable) {
    Store("[setting]\nBitrate=22050\nChannles=5\nBlockSize=-1\nAuthor=1\n");
    ASSERT_TRUE(ReadSettings(path, s, author).ok);
    EXPECT_EQ(s.Bitrate, 44100);
    EXPECT_EQ(s.Channles, 2);
    EXPECT_EQ(s.BlockSize, 0);
    EXPECT_TRUE(author);
    Store("[setting]\nBitrate=48000\nChannles=0\nBlockSize=7\n");
    ASSERT_TRUE(ReadSettings(path, s, author).ok);
    EXPECT_EQ(s.Bitrate, 48000);
    EXPECT_EQ(s.Channles, 1);
    EXPECT_EQ(s.BlockSize, 3);
}

TEST_F(ServerSettingTest, OutOfRangeValuesStopTheRead) {
    struct Case {
        const char* text;
        const char* key;
    } cases[] = {
        {"Port=70000\n", "Port"},     {"ExtPort=-1\n", "ExtPort"},
        {"ExtMode=256\n", "ExtMode"}, {"ExtPID=40000\n", "ExtPID"},
        {"[Codec]\nTag=-5\n", "Tag"}, {"[Codec]\nFormatIndex=-1\n", "FormatIndex"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        Store(std::string("[setting]\nName=Radio\n") + c.text);
        const auto status = ReadSettings(path, s, author);
        EXPECT_FALSE(status.ok);
        EXPECT_EQ(status.failedKey, c.key);
        EXPECT_NE(status.error.find(c.key), std::string::npos);
        EXPECT_EQ(s.Name, "Radio");         // read before the failing key
        EXPECT_TRUE(s.PluginPath.empty());  // not read after it
    }
}

TEST_F(ServerSettingTest, PluginListEndsAtTheFirstGap) {
    Store("[Plugins]\nPath=/opt/dsp\nFile1=dsp_a.so\nFile2=\nFile3=dsp_c.so\n");
    ASSERT_TRUE(ReadSettings(path, s, author).ok);
    EXPECT_EQ(s.PluginPath, "/opt/dsp");
    EXPECT_EQ(s.PluginsInUse, (std::vector<std::string>{"dsp_a.so"}));
    ASSERT_FALSE(WriteSettings(path, s).has_value());
    EXPECT_NE(Stored().find("[Plugins]\nPath=/opt/dsp\nFile1=dsp_a.so\n"), std::string::npos);
    EXPECT_EQ(Stored().find("dsp_c.so"), std::string::npos);  // dropped at the save
}

TEST_F(ServerSettingTest, RoundTripWithScrambledPasswordsKeepsOtherLines) {
    Store("; written by hand\n[setting]\nUnknown=keep me\nAuthor=1\n");
    ASSERT_TRUE(ReadSettings(path, s, author).ok);
    s.Name = "Радио Один";
    s.Device = "Virtual tone";
    s.Port = 2200;
    s.Auto = true;
    s.Delay = 5;
    s.Password = "abc";
    s.BlockSize = 2;
    s.Bitrate = 48000;
    s.Channles = 1;
    s.MaxConnections = 10;
    s.ToTray = true;
    s.Driver = "MPEG Layer-3";
    s.Tag = 85;
    s.FormatIndex = 3;
    s.ExtMode = 1;
    s.ExtPort = 2300;
    s.ExtPID = -7;
    s.ExtPass = "";
    s.ExtIPOnly = true;
    s.ExtIP = "10.0.0.5";
    s.PluginsInUse = {"dsp_gain.so", "dsp_swap.so"};
    ASSERT_FALSE(WriteSettings(path, s).has_value());

    const std::string text = Stored();
    EXPECT_NE(text.find("; written by hand\n"), std::string::npos);
    EXPECT_NE(text.find("Unknown=keep me\n"), std::string::npos);
    EXPECT_NE(text.find("Author=1\n"), std::string::npos);
    EXPECT_NE(text.find("Password=23100A\n"), std::string::npos);
    EXPECT_NE(text.find("ExtPass=\n"), std::string::npos);
    EXPECT_NE(text.find("Auto=1\n"), std::string::npos);

    TSetting back;
    ASSERT_TRUE(ReadSettings(path, back, author).ok);
    back.Position = s.Position;
    EXPECT_EQ(back, s);
}

TEST_F(ServerSettingTest, KeysAreWrittenInTheirOrder) {
    s.Port = 2102;
    ASSERT_FALSE(WriteSettings(path, s).has_value());
    const std::string text = Stored();
    const char* order[] = {
        "Name=",      "Device=",  "Port=",        "Auto=",           "Delay=",  "Password=",
        "BlockSize=", "Bitrate=", "Channles=",    "MaxConnections=", "ToTray=", "ExtMode=",
        "ExtPort=",   "ExtPID=",  "ExtPass=",     "ExtIPOnly=",      "ExtIP=",  "[Codec]",
        "Driver=",    "Tag=",     "FormatIndex=", "[Plugins]",       "Path="};
    size_t at = 0;
    for (const char* key : order) {
        SCOPED_TRACE(key);
        const size_t found = text.find(key, at);
        ASSERT_NE(found, std::string::npos);
        at = found;
    }
}

TEST_F(ServerSettingTest, PositionIsItsOwnSection) {
    Store("[setting]\nName=x\n");
    s.Position = {10, 20, 300, 400};
    ASSERT_FALSE(WritePosition(path, s).has_value());
    TSetting back;
    ASSERT_TRUE(ReadPosition(path, back).ok);
    EXPECT_EQ(back.Position, s.Position);
    ASSERT_TRUE(ReadSettings(path, back, author).ok);
    EXPECT_EQ(back.Name, "x");
}

TEST_F(ServerSettingTest, UnreadableFileIsAnError) {
    const auto status = ReadSettings(dir.Path(""), s, author);
    EXPECT_FALSE(status.ok);
    EXPECT_NE(status.error.find("Cannot read"), std::string::npos);
}

}  // namespace
}  // namespace brivanta::server
