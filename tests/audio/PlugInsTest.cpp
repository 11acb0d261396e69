#include "audio/PlugIns.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "TempDir.h"

namespace brivanta::audio {
namespace {

namespace fs = std::filesystem;

const std::string kPlugins = BRIVANTA_PLUGIN_DIR;

// A block of 16-bit stereo frames (left, right) plus the given extra bytes.
std::vector<int16_t> Frames(std::initializer_list<std::pair<int16_t, int16_t>> frames) {
    std::vector<int16_t> samples;
    for (const auto& [left, right] : frames) {
        samples.push_back(left);
        samples.push_back(right);
    }
    return samples;
}

struct PlugInsTest : ::testing::Test {
    TPluginHost host;
    void SetUp() override {
        setenv("BRIVANTA_DSP_GAIN_DB", "-6.0206", 1);
        host.InitPlugins();
    }
};

TEST_F(PlugInsTest, SizeIsLoweredToWholeFramesWithOrWithoutPlugins) {
    std::vector<uint8_t> block(4098, 0);
    uint32_t size = 4098;
    host.ProcessPlugins(block.data(), size);
    EXPECT_EQ(size, 4096u);
    ASSERT_TRUE(host.LoadPlugin(kPlugins, "dsp_gain.so"));
    size = 4098;
    host.ProcessPlugins(block.data(), size);
    EXPECT_EQ(size, 4096u);
}

TEST_F(PlugInsTest, ChainRunsInPlaceInOrder) {
    ASSERT_TRUE(host.LoadPlugin(kPlugins, "dsp_swap.so"));
    ASSERT_TRUE(host.LoadPlugin(kPlugins, "dsp_gain.so"));
    std::vector<int16_t> samples = Frames({{1000, -2000}, {-32768, 32767}});
    samples.push_back(1234);  // half a frame: left alone and cut off
    uint32_t size = static_cast<uint32_t>(samples.size() * 2);
    host.ProcessPlugins(reinterpret_cast<uint8_t*>(samples.data()), size);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(samples, (std::vector<int16_t>{-1000, 500, 16383, -16384, 1234}));
    const auto chain = host.Plugins();
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0].Name, "dsp_swap.so");
    EXPECT_EQ(chain[1].Name, "dsp_gain.so");
}

TEST_F(PlugInsTest, BrokenPluginsStayUnloadedInTheList) {
    for (const char* name :
         {"dsp_broken_no_export.so", "dsp_broken_no_module.so", "dsp_broken_init_fails.so"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(host.LoadPlugin(kPlugins, name));
    }
    EXPECT_FALSE(host.LoadPlugin(kPlugins, "dsp_missing.so"));
    const auto chain = host.Plugins();
    ASSERT_EQ(chain.size(), 4u);
    for (const auto& item : chain) {
        EXPECT_FALSE(item.Loaded);
        EXPECT_EQ(item.Library, nullptr);
    }
    // Unloaded items are never run: the block is unchanged.
    std::vector<int16_t> samples = Frames({{7, 8}});
    uint32_t size = 4;
    host.ProcessPlugins(reinterpret_cast<uint8_t*>(samples.data()), size);
    EXPECT_EQ(samples, Frames({{7, 8}}));
}

TEST_F(PlugInsTest, ANameLoadsOnceAndUnloadFollowsPositions) {
    ASSERT_TRUE(host.LoadPlugin(kPlugins, "dsp_gain.so"));
    EXPECT_FALSE(host.LoadPlugin(kPlugins, "dsp_gain.so"));
    EXPECT_FALSE(host.LoadPlugin(kPlugins, "dsp_broken_init_fails.so"));
    EXPECT_FALSE(host.LoadPlugin(kPlugins, "dsp_broken_init_fails.so"));  // no second attempt
    EXPECT_FALSE(host.LoadPlugin("/no/such/folder", "dsp_swap.so"));
    EXPECT_FALSE(host.LoadPlugin(kPlugins, ""));
    ASSERT_TRUE(host.LoadPlugin(kPlugins, "dsp_swap.so"));
    EXPECT_EQ(host.Plugins().size(), 3u);
    EXPECT_EQ(host.PositionOf("dsp_swap.so"), 2);

    host.UnloadPlugin(7);  // outside: ignored
    host.ConfigPlugin(7);
    host.UnloadPlugin(0);
    EXPECT_EQ(host.PositionOf("dsp_swap.so"), 1);
    EXPECT_EQ(host.PositionOf("dsp_gain.so"), -1);
    std::vector<int16_t> samples = Frames({{1, 2}});
    uint32_t size = 4;
    host.ProcessPlugins(reinterpret_cast<uint8_t*>(samples.data()), size);
    EXPECT_EQ(samples, Frames({{2, 1}}));  // only the swap is left
    host.FreePlugins();
    EXPECT_TRUE(host.Plugins().empty());
}

TEST_F(PlugInsTest, ScanMatchesThePatternIgnoringCase) {
    test::TempDir dir;
    for (const char* name : {"dsp_b.so", "DSP_a.SO", "dsp.so", "dspfolder.so", ".dsp_hidden.so",
                             "mydsp.so", "dsp_c.so.1", "readme.txt"}) {
        std::ofstream(dir.Path(name)) << "x";
    }
    fs::remove(dir.Path("dspfolder.so"));
    fs::create_directory(dir.Path("dspfolder.so"));
    host.ScanPlugins(dir.Root().string());
    EXPECT_EQ(host.PluginFiles(), (std::vector<std::string>{"dsp.so", "DSP_a.SO", "dsp_b.so"}));
    host.ScanPlugins("/no/such/folder");
    EXPECT_TRUE(host.PluginFiles().empty());
    host.ScanPlugins("");
    EXPECT_TRUE(host.PluginFiles().empty());
}

TEST_F(PlugInsTest, LoadingTheInUseListLogsEachFailure) {
    std::vector<std::string> log;
    LoadPluginsInUse(host, kPlugins, {"dsp_gain.so", "dsp_gone.so", "dsp_broken_no_module.so"},
                     [&](const std::string& line) { log.push_back(line); });
    EXPECT_EQ(log,
              (std::vector<std::string>{"Plugins: file don't exists " + kPlugins + "/dsp_gone.so",
                                        "Error load " + kPlugins + "/dsp_broken_no_module.so"}));
    EXPECT_EQ(host.Plugins().size(), 2u);  // the missing file made no item
}

}  // namespace
}  // namespace brivanta::audio
