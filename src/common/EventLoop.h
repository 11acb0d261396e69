#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "common/Clock.h"

namespace brivanta::common {

class VirtualClock;

// A single-threaded event loop: posted tasks, one-shot delayed tasks and
// repeating timers, all run on the thread that drives the loop, in due order.
// Engines run on one of these; what they call their main thread is this loop.
//
// Threads: Post, PostAfter, AddTimer, RemoveTimer and Quit may be called from
// any thread. Run, RunDue and AdvanceVirtual drive the loop; only one thread
// may drive a loop at a time. Tasks never run with the loop's lock held, so a
// task may post, add or remove timers freely.
class EventLoop {
  public:
    using Task = std::function<void()>;
    using TimerId = uint64_t;
    using ErrorHandler = std::function<void(const std::string&)>;

    explicit EventLoop(IClock& clock);
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    IClock& Clock() { return clock_; }

    // Runs the task as soon as possible, after tasks posted before it.
    void Post(Task task);
    // Runs the task once, delayMs from now.
    void PostAfter(int64_t delayMs, Task task);
    // Runs the task every intervalMs (at least 1 ms) from now until removed. A
    // timer that falls behind fires once and is rescheduled from the current
    // time; it never fires in a burst to catch up.
    TimerId AddTimer(int64_t intervalMs, Task task);
    // Stops a timer; removing an unknown or already removed id does nothing.
    void RemoveTimer(TimerId id);

    // Called with the text of an exception that a task let escape; the loop
    // goes on. Set before the loop runs.
    void SetErrorHandler(ErrorHandler handler) { onError_ = std::move(handler); }

    // Drives the loop on the calling thread, waiting in real time, until Quit.
    void Run();
    // Makes Run return after the task that is running now.
    void Quit();

    // Runs every task and timer that is due at the clock's current time,
    // including ones that become due because earlier ones posted them.
    void RunDue();
    // For tests on a virtual clock: moves the clock forward by ms, stopping
    // at each due time on the way to run what is due then.
    void AdvanceVirtual(VirtualClock& clock, int64_t ms);

  private:
    struct Entry {
        TimerId id = 0;          // 0 for one-shot tasks
        int64_t intervalMs = 0;  // 0 for one-shot tasks
        std::shared_ptr<Task> task;
    };
    // Entries by (due time, order of scheduling).
    using Agenda = std::multimap<std::pair<int64_t, uint64_t>, Entry>;

    void Schedule(int64_t due, Entry entry);
    bool TakeDue(int64_t now, Entry& entry);
    void RunGuarded(const Task& task);
    int64_t NextDue() const;

    IClock& clock_;
    ErrorHandler onError_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    Agenda agenda_;                 // guarded by mutex_
    std::set<TimerId> liveTimers_;  // guarded by mutex_
    uint64_t nextOrder_ = 0;        // guarded by mutex_
    TimerId nextTimerId_ = 1;       // guarded by mutex_
    bool quit_ = false;             // guarded by mutex_
};

}  // namespace brivanta::common
