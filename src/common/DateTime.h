#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brivanta::common {

// Wall-clock times are day counts since 30 December 1899 00:00 (day 0); the
// fraction is the time of day. This is the form used on the wire and in logs.
using DayCount = double;

inline constexpr double kMsPerDay = 86400000.0;
// Day count of the Unix epoch, 1 January 1970.
inline constexpr double kUnixEpochDays = 25569.0;

struct CalendarTime {
    int year = 1899;
    int month = 12;  // 1..12
    int day = 30;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    bool operator==(const CalendarTime&) const = default;
};

// Calendar fields to a day count; nullopt when a field is out of its range.
std::optional<DayCount> EncodeDateTime(const CalendarTime& time);
// A day count to calendar fields, rounded to the nearest millisecond.
CalendarTime DecodeDateTime(DayCount days);

DayCount DayCountFromUnixMs(int64_t unixMs);
int64_t UnixMsFromDayCount(DayCount days);

// The machine's wall clock.
DayCount NowUtc();
DayCount NowLocal();
// Conversions between UTC and the machine's local time zone at that moment.
DayCount UtcToLocal(DayCount utc);
DayCount LocalToUtc(DayCount local);

// "dd.mm.yy hh:nn:ss", the time stamp of log lines.
std::string FormatLogTime(DayCount days);
// "YY-MM-DD", the date part of daily log file names.
std::string FormatFileDate(DayCount days);

}  // namespace brivanta::common
