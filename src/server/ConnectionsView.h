#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/NetContact.h"

namespace brivanta::server {

// One row of the connections view: the texts of its four columns.
struct TConnectionRow {
    std::string Address;  // "IP Address"
    std::string Status;   // "Online", "Banned" or "Offline"
    std::string Buffer;   // seconds, "%4.1f"
    std::string Time;     // online for, or hold left as "-mm:ss"

    bool operator==(const TConnectionRow&) const = default;
};

// The rows for every slot that is not free, latest connection first. now is
// FNow, the work tick's time.
std::vector<TConnectionRow> ConnectionRows(const std::vector<TClientSlot>& slots, int64_t now);

// The "Time" column: a difference of zero or more as "hh:mm:ss" (with whole
// days in front from a day on), a negative one as "-" and minutes:seconds.
std::string ConnectionTimeText(int64_t differenceMs);

}  // namespace brivanta::server
