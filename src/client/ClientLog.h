#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "common/DateTime.h"

namespace brivanta::client {

// One entry of the client's event log.
struct TLogEntry {
    common::DayCount time = 0;  // local time
    std::string text;

    // "dd.mm.yy hh:nn:ss text"
    std::string Line() const;
};

// The client's event log: at most 255 entries, newest first, kept in memory
// only. Every entry is also handed to the sink (headless mode prints it).
//
// Threads: OutLog runs on the client's loop thread; Entries may be read from
// any thread (a window, a status line). The sink is called on the thread of
// OutLog, outside the lock.
class TClientLog {
  public:
    static constexpr size_t kMaxEntries = 255;
    using Sink = std::function<void(const TLogEntry&)>;

    explicit TClientLog(common::IClock& clock, Sink sink = {});

    void OutLog(const std::string& text);
    // The entries, newest first.
    std::vector<TLogEntry> Entries() const;
    size_t Count() const;

  private:
    common::IClock& clock_;
    const Sink sink_;
    mutable std::mutex mutex_;
    std::deque<TLogEntry> entries_;  // guarded by mutex_; newest first
};

}  // namespace brivanta::client
