#include "client/ClientSetting.h"

#include <gtest/gtest.h>

#include "TempDir.h"

namespace brivanta::client {
namespace {

struct ClientSettingTest : ::testing::Test {
    test::TempDir dir;
    const std::string path = dir.Path("BrivantaClient.ini");
    TSetting s;

    void Store(const std::string& text) const { test::WriteFileText(path, text); }
    std::string Stored() const { return test::ReadFileText(path); }
};

TEST_F(ClientSettingTest, MissingFileGivesTheDefaults) {
    ASSERT_TRUE(ReadSettings(path, s).ok);
    EXPECT_EQ(s.IP, "127.0.0.1");
    EXPECT_EQ(s.Port, 2102);
    EXPECT_DOUBLE_EQ(s.Buffer, 1.0);
    EXPECT_EQ(s.Wait, 10);
    EXPECT_EQ(s.Mode, 0);
    EXPECT_EQ(s.MinBuffer, 1);
    EXPECT_EQ(s.Silence, -32);
    EXPECT_EQ(s.Time, 0);
    EXPECT_EQ(s.Restore, 1);
    EXPECT_EQ(s.Break, 10);
    EXPECT_EQ(s.Connect, 10);
    EXPECT_DOUBLE_EQ(s.FadeOut, 1.0);
    EXPECT_DOUBLE_EQ(s.FadeIn, 2.0);
    EXPECT_EQ(s.ExternalMode, 0);
    EXPECT_EQ(s.ExtIP, "127.0.0.1");
    EXPECT_EQ(s.ExtPort, 2103);
    EXPECT_EQ(s.PluginPath, dir.Root().string());
}

TEST_F(ClientSettingTest, ClampsSilenceAndMinBufferOnly) {
    struct Case {
        const char* stored;
        int silence;
        int minBuffer;
    } cases[] = {
        {"Silence=-50\nMinBuffer=0\n", -42, 1},
        {"Silence=-5\nMinBuffer=90\n", -12, 80},
        {"Silence=-20\nMinBuffer=75\n", -20, 75},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        Store(std::string("[Setting]\nBuffer=500\n") + c.stored);
        ASSERT_TRUE(ReadSettings(path, s).ok);
        EXPECT_EQ(s.Silence, c.silence);
        EXPECT_EQ(s.MinBuffer, c.minBuffer);
        EXPECT_DOUBLE_EQ(s.Buffer, 500);  // kept as stored
    }
}

TEST_F(ClientSettingTest, FractionsReadWithEitherSeparator) {
    Store("[Setting]\nBuffer=2,5\nFadeOut=0.75\nFadeIn=junk\n");
    ASSERT_TRUE(ReadSettings(path, s).ok);
    EXPECT_DOUBLE_EQ(s.Buffer, 2.5);
    EXPECT_DOUBLE_EQ(s.FadeOut, 0.75);
    EXPECT_DOUBLE_EQ(s.FadeIn, 2.0);
}

TEST_F(ClientSettingTest, OutOfRangeValuesStopTheRead) {
    for (const char* bad : {"Port=70000", "PID=40000", "ExtPort=65536"}) {
        SCOPED_TRACE(bad);
        Store(std::string("[Setting]\nName=Studio\n") + bad + "\n");
        const auto status = ReadSettings(path, s);
        EXPECT_FALSE(status.ok);
        EXPECT_NE(status.error.find(status.failedKey), std::string::npos);
        EXPECT_EQ(s.Name, "Studio");
        EXPECT_EQ(s.MinBuffer, 0);  // read after the failure point: still zero
    }
}

TEST_F(ClientSettingTest, RoundTrip) {
    s.Name = "Studio B";
    s.Device = "Virtual WAV output";
    s.Wait = 3;
    s.IP = "192.168.1.20";
    s.Port = 2202;
    s.Password = "секрет";
    s.Buffer = 2.5;
    s.MinBuffer = 30;
    s.Mode = 2;
    s.PID = 12;
    s.ToTray = true;
    s.OriginalLevel = true;
    s.SynhroTime = true;
    s.Silence = -30;
    s.Time = 5;
    s.Restore = 2;
    s.Break = 20;
    s.Connect = 15;
    s.FadeOut = 0.3;
    s.FadeIn = 1.25;
    s.ExternalMode = 2;
    s.ExtIP = "127.0.0.2";
    s.ExtPort = 2110;
    s.ExtPassword = "x";
    s.PluginPath = "/opt/dsp";
    s.PluginsInUse = {"dsp_gain.so"};
    ASSERT_FALSE(WriteSettings(path, s).has_value());
    const std::string text = Stored();
    EXPECT_NE(text.find("[Setting]\nName=Studio B\nDevice="), std::string::npos);
    EXPECT_NE(text.find("Buffer=2.5\n"), std::string::npos);
    EXPECT_NE(text.find("FadeOut=0.3\n"), std::string::npos);
    EXPECT_NE(text.find("ExtPassword=3A\n"), std::string::npos);  // 'x' ^ 'B'
    TSetting back;
    ASSERT_TRUE(ReadSettings(path, back).ok);
    EXPECT_EQ(back, s);
}

}  // namespace
}  // namespace brivanta::client
