#include "common/DateTime.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace brivanta::common {
namespace {

TEST(DateTime, KnownDayCounts) {
    struct Case {
        CalendarTime time;
        double days;
    } cases[] = {
        {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
        {{1899, 12, 31, 0, 0, 0, 0}, 1.0},
        {{1970, 1, 1, 0, 0, 0, 0}, 25569.0},
        {{2000, 1, 1, 12, 0, 0, 0}, 36526.5},
        {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.days);
        ASSERT_TRUE(EncodeDateTime(c.time).has_value());
        EXPECT_DOUBLE_EQ(*EncodeDateTime(c.time), c.days);
        EXPECT_EQ(DecodeDateTime(c.days), c.time);
    }
}

TEST(DateTime, RejectsImpossibleFields) {
    EXPECT_FALSE(EncodeDateTime({2023, 2, 29, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(EncodeDateTime({2024, 13, 1, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(EncodeDateTime({2024, 1, 1, 24, 0, 0, 0}).has_value());
    EXPECT_TRUE(EncodeDateTime({2024, 2, 29, 23, 59, 59, 999}).has_value());
}

TEST(DateTime, DecodeRoundsToTheMillisecondAcrossMidnight) {
    const double almostMidnight = 45000.0 + 86399999.6 / kMsPerDay;
    const CalendarTime t = DecodeDateTime(almostMidnight);
    EXPECT_EQ(t, DecodeDateTime(45001.0));
}

TEST(DateTime, UnixConversionRoundTrips) {
    const int64_t unixMs = 1765450800123;  // 2025-12-11 11:00:00.123 UTC
    EXPECT_EQ(UnixMsFromDayCount(DayCountFromUnixMs(unixMs)), unixMs);
    const CalendarTime t = DecodeDateTime(DayCountFromUnixMs(unixMs));
    EXPECT_EQ(t, (CalendarTime{2025, 12, 11, 11, 0, 0, 123}));
}

TEST(DateTime, Formats) {
    const double days = *EncodeDateTime({2026, 3, 7, 9, 5, 4, 0});
    EXPECT_EQ(FormatLogTime(days), "07.03.26 09:05:04");
    EXPECT_EQ(FormatFileDate(days), "26-03-07");
}

TEST(DateTime, LocalAndUtcFollowTheTimeZone) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const double winterNoon = *EncodeDateTime({2026, 1, 15, 12, 0, 0, 0});
    const double summerNoon = *EncodeDateTime({2026, 7, 15, 12, 0, 0, 0});
    EXPECT_EQ(FormatLogTime(UtcToLocal(winterNoon)), "15.01.26 13:00:00");
    EXPECT_EQ(FormatLogTime(UtcToLocal(summerNoon)), "15.07.26 14:00:00");
    EXPECT_NEAR(LocalToUtc(UtcToLocal(summerNoon)), summerNoon, 1e-9);
    unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace brivanta::common
