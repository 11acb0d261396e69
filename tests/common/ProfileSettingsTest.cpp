#include "common/ProfileSettings.h"

#include <gtest/gtest.h>

namespace brivanta::common {
namespace {

TEST(SettingsReader, StopsAtTheFirstValueOutOfRange) {
    ProfileFile f;
    f.Parse("[s]\na=7\nport=70000\nb=9\n");
    SettingsReader read(f);
    int32_t a = 0;
    uint16_t port = 0;
    int32_t b = 0;
    read.Integer<int32_t>("s", "a", 1, a);
    read.Integer<uint16_t>("s", "port", 2102, port);
    read.Integer<int32_t>("s", "b", 1, b);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(b, 0);  // not read: reading stopped
    ASSERT_TRUE(read.Failed());
    EXPECT_EQ(read.Status().failedKey, "port");
    EXPECT_EQ(read.Status().error, "Range check error: [s] port=70000 is outside 0..65535");
}

TEST(SettingsReader, RangesOfEachFieldType) {
    struct Case {
        const char* stored;
        bool ok;
    };
    const auto readI16 = [](const char* stored) {
        ProfileFile f;
        f.Parse(std::string("[s]\nk=") + stored + "\n");
        SettingsReader read(f);
        int16_t v = 0;
        read.Integer<int16_t>("s", "k", 1, v);
        return !read.Failed();
    };
    for (const Case& c : {Case{"-32768", true}, Case{"32767", true}, Case{"40000", false},
                          Case{"-32769", false}, Case{"junk", true}}) {
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(readI16(c.stored), c.ok);
    }
    ProfileFile f;
    f.Parse("[s]\ntag=-1\n");
    SettingsReader read(f);
    int32_t tag = 0;
    read.Integer<int32_t>("s", "tag", 85, tag, 0);
    EXPECT_TRUE(read.Failed());
}

TEST(SettingsReader, TextIsCutAtACharacterBoundary) {
    ProfileFile f;
    f.Parse("[s]\nk=abЖ\n");  // Ж is two bytes
    SettingsReader read(f);
    std::string v;
    read.Text("s", "k", "", 3, v);
    EXPECT_EQ(v, "ab");
}

TEST(PlaceWindow, StoredBoundsOnAScreen) {
    struct Case {
        WindowBounds stored;
        WindowBounds placed;
    } cases[] = {
        {{-1, -1, -1, -1}, {760, 320, 400, 440}},    // centred default size
        {{100, 50, 500, 300}, {100, 50, 500, 300}},  // kept
        {{-1, 10, 2000, 300}, {0, 10, 1920, 300}},   // wider than the screen
        {{1800, 1000, 400, 440}, {1800, 1000, 120, 80}},
        {{5000, 3000, 400, 440}, {1520, 640, 400, 440}},  // off this screen: moved back
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlaceWindow(c.stored, 1920, 1080), c.placed);
    }
    EXPECT_EQ(BoundsToStore({-8, -3, 400, 440}), (WindowBounds{0, 0, 400, 440}));
}

}  // namespace
}  // namespace brivanta::common
