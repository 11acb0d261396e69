#include "common/Utils.h"

#include <gtest/gtest.h>

#include <array>

namespace brivanta::common {
namespace {

TEST(XorText, RepeatsTheKeyAndRestoresTheData) {
    EXPECT_EQ(XorText("", "Brivanta"), "");
    const std::string data("pass\0word with nul", 18);
    const std::string scrambled = XorText(data, "Brivanta");
    EXPECT_EQ(scrambled.size(), data.size());
    EXPECT_EQ(static_cast<unsigned char>(scrambled[8]), ('d' ^ 'B'));  // the key starts again
    EXPECT_EQ(XorText(scrambled, "Brivanta"), data);
}

TEST(XorText, EmptyKeyIsByteAAAndALongKeyIsCut) {
    EXPECT_EQ(XorText(std::string("\x00\xAA\xFF", 3), ""), std::string("\xAA\x00\x55", 3));
    EXPECT_EQ(XorText("ab", "Brivanta"), XorText("ab", "Br"));
}

TEST(Hex, EncodesUpperCaseAndDecodesLeniently) {
    EXPECT_EQ(TextToHex(""), "");
    EXPECT_EQ(TextToHex("\xFF"), "FF");
    EXPECT_EQ(TextToHex(std::string("\x0A\x00", 2)), "0A00");
    EXPECT_EQ(HexToText("0A"), "\x0A");
    EXPECT_EQ(HexToText("0a"), "\x0A");
    EXPECT_EQ(HexToText("zz"), std::string(1, '\0'));
    EXPECT_EQ(HexToText("41F"), "A");
    EXPECT_EQ(HexToText(""), "");
}

TEST(Hex, DigitValues) {
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('A'), 10);
    EXPECT_EQ(HexDigitValue('f'), 15);
    EXPECT_EQ(HexDigitValue('g'), 0);
    EXPECT_EQ(HexDigitValue('\0'), 0);
}

TEST(Password, ScrambledAsInTheSettingsFiles) {
    // 'a' ^ 'B' = 0x23, 'b' ^ 'r' = 0x10, 'c' ^ 'i' = 0x0A
    EXPECT_EQ(ScramblePassword("abc"), "23100A");
    EXPECT_EQ(UnscramblePassword("23100A"), "abc");
    EXPECT_EQ(ScramblePassword(""), "");
    EXPECT_EQ(UnscramblePassword(ScramblePassword("Пароль-123")), "Пароль-123");
}

TEST(UpperText, LatinAndCyrillicOnly) {
    EXPECT_EQ(UpperText("abc xyz"), "ABC XYZ");
    EXPECT_EQ(UpperText("ABC-123,.!0"), "ABC-123,.!0");
    EXPECT_EQ(UpperText("ёлка"), "ЁЛКА");
    EXPECT_EQ(UpperText("абвгдежзийклмнопрстуфхцчшщъыьэюя"), "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ");
    EXPECT_EQ(UpperText("äöü ß"), "äöü ß");            // not in the table
    EXPECT_EQ(UpperText("\xD0"), "\xD0");              // a cut character stays
    EXPECT_EQ(UpperText("/usr/Bin/x"), "/USR/BIN/X");  // same length as the input
}

TEST(AddBackslash, AppendsTheSeparatorOnce) {
    EXPECT_EQ(AddBackslash(""), "");
    EXPECT_EQ(AddBackslash("/opt/plugins"), "/opt/plugins/");
    EXPECT_EQ(AddBackslash("/opt/plugins/"), "/opt/plugins/");
}

TEST(FormatDuration, EveryLayout) {
    const double d = 1.0 + (((2 * 60 + 3) * 60 + 4) * 1000 + 567) / 86400000.0;  // 1 02:03:04.567
    struct Case {
        uint32_t layout;
        double days;
        const char* text;
    } cases[] = {
        {0, 1.5, "1 12:00:00"},
        {0, 0.5, "12:00:00"},
        {3, 1.5, "2160:00"},
        {2, 0.25, "06:00"},
        {9, 1.0, "!FORMAT!"},
        {0, d, "1 02:03:04"},
        {1, d, "26:03:04"},
        {2, d, "26:03"},
        {3, d, "1563:04"},
        {4, d, "26:03:04.5"},
        {5, d, "1 02:03:04"},
        {5, 0.5, "0 12:00:00"},
        {6, d, "1563:04.5"},
        {7, d, " 7384"},
        {11, d, "26:03:04.567"},
        {0, -3.0, "00:00:00"},
        {0, 0.99999999999, "1 00:00:00"},  // rounds up to a whole day
        {8, 0.0, "!FORMAT!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        EXPECT_EQ(FormatDuration(c.layout, c.days), c.text);
    }
}

TEST(FitGridColumns, SharesTheRemainingWidth) {
    const std::array<int, 3> widths{50, 10, 10};
    const std::array<int16_t, 2> keepFirst{0, 100};
    EXPECT_EQ(FitGridColumns(300, widths, keepFirst), (std::vector<int>{50, 248, 10}));
    const std::array<int16_t, 3> split{25, 25, 50};
    EXPECT_EQ(FitGridColumns(400, widths, split), (std::vector<int>{99, 99, 199}));
    const std::array<int16_t, 4> longer{0, 0, 0, 100};  // the fourth has no column
    EXPECT_EQ(FitGridColumns(400, widths, longer), (std::vector<int>{50, 10, 10}));
}

}  // namespace
}  // namespace brivanta::common
