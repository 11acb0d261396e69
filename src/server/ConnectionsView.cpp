#include "server/ConnectionsView.h"

#include <algorithm>
#include <cstdio>

#include "common/Utils.h"

namespace brivanta::server {

namespace {

constexpr double kMsPerDay = 86400000.0;

const char* StateText(TSlotState state) {
    switch (state) {
        case ssOnline:
            return "Online";
        case ssBanned:
            return "Banned";
        default:
            return "Offline";
    }
}

}  // namespace

std::string ConnectionTimeText(int64_t differenceMs) {
    // Parts of a second are dropped.
    const int64_t wholeSecondsMs = differenceMs / 1000 * 1000;
    if (wholeSecondsMs >= 0) {
        return common::FormatDuration(0, static_cast<double>(wholeSecondsMs) / kMsPerDay);
    }
    return "-" + common::FormatDuration(3, static_cast<double>(-wholeSecondsMs) / kMsPerDay);
}

std::vector<TConnectionRow> ConnectionRows(const std::vector<TClientSlot>& slots, int64_t now) {
    std::vector<const TClientSlot*> used;
    for (const TClientSlot& slot : slots) {
        if (slot.state != ssFree) {
            used.push_back(&slot);
        }
    }
    std::stable_sort(used.begin(), used.end(), [](const TClientSlot* a, const TClientSlot* b) {
        return a->connectionTime > b->connectionTime;
    });
    std::vector<TConnectionRow> rows;
    for (const TClientSlot* slot : used) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%4.1f", slot->bufferLength / 1000.0);
        const int64_t difference =
            slot->state == ssOnline ? now - slot->connectionTime : now - slot->holdUntil;
        rows.push_back(TConnectionRow{TNetSender::AddressText(slot->address),
                                      StateText(slot->state), buffer,
                                      ConnectionTimeText(difference)});
    }
    return rows;
}

}  // namespace brivanta::server
