#include "common/DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace brivanta::common {

namespace {

namespace chr = std::chrono;

constexpr chr::sys_days kDayZero = chr::sys_days{chr::year{1899} / 12 / 30};

int64_t RoundToMs(DayCount days) {
    return std::llround(days * kMsPerDay);
}

// Offset of local time from UTC, in seconds, at the given Unix second.
int64_t LocalOffsetSeconds(time_t unixSeconds) {
    tm local{};
    localtime_r(&unixSeconds, &local);
    return local.tm_gmtoff;
}

}  // namespace

std::optional<DayCount> EncodeDateTime(const CalendarTime& t) {
    const chr::year_month_day ymd{chr::year{t.year}, chr::month{static_cast<unsigned>(t.month)},
                                  chr::day{static_cast<unsigned>(t.day)}};
    if (!ymd.ok() || t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 ||
        t.second > 59 || t.millisecond < 0 || t.millisecond > 999) {
        return std::nullopt;
    }
    const auto wholeDays = (chr::sys_days{ymd} - kDayZero).count();
    const double msOfDay = ((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.millisecond;
    // Before day 0 the fraction still counts forward in time from the day's
    // start, as the fraction's absolute value.
    return wholeDays >= 0 ? wholeDays + msOfDay / kMsPerDay : wholeDays - msOfDay / kMsPerDay;
}

CalendarTime DecodeDateTime(DayCount days) {
    int64_t wholeDays = static_cast<int64_t>(std::trunc(days));
    int64_t msOfDay = std::llround(std::fabs(days - static_cast<double>(wholeDays)) * kMsPerDay);
    if (msOfDay >= static_cast<int64_t>(kMsPerDay)) {
        msOfDay -= static_cast<int64_t>(kMsPerDay);
        wholeDays += days >= 0 ? 1 : -1;
    }
    const chr::year_month_day ymd{kDayZero + chr::days{wholeDays}};
    CalendarTime t;
    t.year = static_cast<int>(ymd.year());
    t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.millisecond = static_cast<int>(msOfDay % 1000);
    t.second = static_cast<int>(msOfDay / 1000 % 60);
    t.minute = static_cast<int>(msOfDay / 60000 % 60);
    t.hour = static_cast<int>(msOfDay / 3600000);
    return t;
}

DayCount DayCountFromUnixMs(int64_t unixMs) {
    return kUnixEpochDays + static_cast<double>(unixMs) / kMsPerDay;
}

int64_t UnixMsFromDayCount(DayCount days) {
    return RoundToMs(days - kUnixEpochDays);
}

DayCount NowUtc() {
    const auto now = chr::system_clock::now();
    return DayCountFromUnixMs(
        chr::duration_cast<chr::milliseconds>(now.time_since_epoch()).count());
}

DayCount NowLocal() {
    return UtcToLocal(NowUtc());
}

DayCount UtcToLocal(DayCount utc) {
    const int64_t unixMs = UnixMsFromDayCount(utc);
    const time_t seconds = static_cast<time_t>(std::floor(unixMs / 1000.0));
    return utc + LocalOffsetSeconds(seconds) / 86400.0;
}

DayCount LocalToUtc(DayCount local) {
    // The offset is looked up at the local time read as UTC, then once more at
    // the corrected time, which settles it everywhere but inside a DST gap.
    DayCount utc = local;
    for (int pass = 0; pass < 2; ++pass) {
        const time_t seconds = static_cast<time_t>(std::floor(UnixMsFromDayCount(utc) / 1000.0));
        utc = local - LocalOffsetSeconds(seconds) / 86400.0;
    }
    return utc;
}

std::string FormatLogTime(DayCount days) {
    const CalendarTime t = DecodeDateTime(days);
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%02d %02d:%02d:%02d", t.day, t.month,
                  ((t.year % 100) + 100) % 100, t.hour, t.minute, t.second);
    return text;
}

std::string FormatFileDate(DayCount days) {
    const CalendarTime t = DecodeDateTime(days);
    char text[16];
    std::snprintf(text, sizeof text, "%02d-%02d-%02d", ((t.year % 100) + 100) % 100, t.month,
                  t.day);
    return text;
}

}  // namespace brivanta::common
