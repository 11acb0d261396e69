#include "server/ConnectionsView.h"

#include <gtest/gtest.h>

namespace brivanta::server {
namespace {

TEST(ConnectionsView, RowsForUsedSlotsLatestFirst) {
    const int64_t now = 100'000'000;
    std::vector<TClientSlot> slots(4);
    slots[0] = {ssOnline, {10, 0, 0, 1}, 5000, now - 26 * 3600 * 1000LL, 0, 2500, 0};
    slots[2] = {ssOffline, {10, 0, 0, 2}, 5001, now - 1000, now + 65'400, 1000, 7};
    slots[3] = {ssBanned, {10, 0, 0, 3}, 5002, now - 500, now + 2000, 0, 0};
    const auto rows = ConnectionRows(slots, now);
    EXPECT_EQ(rows, (std::vector<TConnectionRow>{
                        {"10.0.0.3", "Banned", " 0.0", "-00:02"},
                        {"10.0.0.2", "Offline", " 1.0", "-01:05"},
                        {"10.0.0.1", "Online", " 2.5", "1 02:00:00"},
                    }));
    EXPECT_TRUE(ConnectionRows(std::vector<TClientSlot>(3), now).empty());
}

TEST(ConnectionsView, TimeTexts) {
    EXPECT_EQ(ConnectionTimeText(0), "00:00:00");
    EXPECT_EQ(ConnectionTimeText(59'999), "00:00:59");
    EXPECT_EQ(ConnectionTimeText(-65'000), "-01:05");
    EXPECT_EQ(ConnectionTimeText(-3'700'000), "-61:40");  // all whole minutes
}

}  // namespace
}  // namespace brivanta::server
