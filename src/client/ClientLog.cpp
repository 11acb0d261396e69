#include "client/ClientLog.h"

namespace brivanta::client {

std::string TLogEntry::Line() const {
    return common::FormatLogTime(time) + " " + text;
}

TClientLog::TClientLog(common::IClock& clock, Sink sink) : clock_(clock), sink_(std::move(sink)) {}

void TClientLog::OutLog(const std::string& text) {
    TLogEntry entry{clock_.NowLocalDays(), text};
    {
        std::lock_guard lock(mutex_);
        entries_.push_front(entry);
        if (entries_.size() > kMaxEntries) {
            entries_.pop_back();
        }
    }
    if (sink_) {
        sink_(entry);
    }
}

std::vector<TLogEntry> TClientLog::Entries() const {
    std::lock_guard lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

size_t TClientLog::Count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace brivanta::client
