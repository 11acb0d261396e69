#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/Clock.h"

namespace brivanta::server {

// One event of the server's log: local time (day count) and text.
struct TLogEntry {
    double Time = 0;
    std::string Text;
};

// The server's event log: a queue that any thread appends to, a view of the
// latest entries that the main thread moves them into one per work tick, the
// daily log files "Log/sYY-MM-DD.log", and the raw connection event list.
//
// Threads: OutLog and AddHello from any thread (guarded); everything else on
// the engine's main thread.
class TServerLog {
  public:
    static constexpr size_t kMaxText = 192;
    static constexpr size_t kMaxRows = 64;

    // baseFolder holds the "Log" folder. The first view row is "Start program".
    TServerLog(common::IClock& clock, std::string baseFolder);

    // Any thread: queues an entry stamped with the local time, cut to 192 bytes.
    void OutLog(const std::string& text);
    // Any thread: appends a line to the connection event list.
    void AddHello(const std::string& line);

    // Main thread: moves the oldest queued entry into the view (newest first,
    // at most 64 rows) and into the lines pending for the file. Returns the
    // entry, or nothing when the queue was empty.
    std::optional<TLogEntry> ShowLog();
    // Main thread: appends the pending lines to each line's day file, creating
    // the folder as needed. Lines that cannot be written are dropped; returns
    // false when that happened.
    bool OutLogToFile();
    // Main thread, at closing: moves everything still queued into the view
    // (telling shown about each) and writes every pending line, so the last
    // events before a stop reach the file.
    void Flush(const std::function<void(const TLogEntry&)>& shown = {});

    const std::deque<TLogEntry>& Rows() const { return rows_; }
    std::vector<std::string> HelloLines() const;
    std::string LogFolder() const;

    // "dd.mm.yy hh:nn:ss text", the form of a line in the file and on stdout.
    static std::string FormatLine(const TLogEntry& entry);

  private:
    common::IClock& clock_;
    const std::string baseFolder_;

    std::mutex queueMutex_;
    std::deque<TLogEntry> queue_;  // guarded by queueMutex_

    mutable std::mutex helloMutex_;
    std::vector<std::string> hello_;  // guarded by helloMutex_

    std::deque<TLogEntry> rows_;      // main thread
    std::vector<TLogEntry> pending_;  // main thread: shown, not yet in the file
};

}  // namespace brivanta::server
