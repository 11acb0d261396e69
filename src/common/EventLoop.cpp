#include "common/EventLoop.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <limits>

namespace brivanta::common {

namespace {
constexpr int64_t kNothingDue = std::numeric_limits<int64_t>::max();
}

EventLoop::EventLoop(IClock& clock) : clock_(clock) {}

void EventLoop::Schedule(int64_t due, Entry entry) {
    {
        std::lock_guard lock(mutex_);
        agenda_.emplace(std::pair{due, nextOrder_++}, std::move(entry));
    }
    wake_.notify_all();
}

void EventLoop::Post(Task task) {
    Schedule(clock_.NowMs(), Entry{0, 0, std::make_shared<Task>(std::move(task))});
}

void EventLoop::PostAfter(int64_t delayMs, Task task) {
    Schedule(clock_.NowMs() + std::max<int64_t>(delayMs, 0),
             Entry{0, 0, std::make_shared<Task>(std::move(task))});
}

EventLoop::TimerId EventLoop::AddTimer(int64_t intervalMs, Task task) {
    const int64_t interval = std::max<int64_t>(intervalMs, 1);
    TimerId id;
    {
        std::lock_guard lock(mutex_);
        id = nextTimerId_++;
        liveTimers_.insert(id);
    }
    Schedule(clock_.NowMs() + interval,
             Entry{id, interval, std::make_shared<Task>(std::move(task))});
    return id;
}

void EventLoop::RemoveTimer(TimerId id) {
    std::lock_guard lock(mutex_);
    liveTimers_.erase(id);
}

void EventLoop::Quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
}

bool EventLoop::TakeDue(int64_t now, Entry& entry) {
    std::lock_guard lock(mutex_);
    while (!agenda_.empty()) {
        auto first = agenda_.begin();
        const int64_t due = first->first.first;
        if (due > now) {
            return false;
        }
        Entry taken = std::move(first->second);
        agenda_.erase(first);
        if (taken.id != 0) {
            if (!liveTimers_.contains(taken.id)) {
                continue;
            }
            int64_t next = due + taken.intervalMs;
            if (next <= now) {
                next = now + taken.intervalMs;
            }
            agenda_.emplace(std::pair{next, nextOrder_++}, taken);
        }
        entry = std::move(taken);
        return true;
    }
    return false;
}

void EventLoop::RunGuarded(const Task& task) {
    try {
        task();
    } catch (const std::exception& e) {
        if (onError_) {
            onError_(e.what());
        }
    } catch (...) {
        if (onError_) {
            onError_("unknown exception in a loop task");
        }
    }
}

int64_t EventLoop::NextDue() const {
    std::lock_guard lock(mutex_);
    return agenda_.empty() ? kNothingDue : agenda_.begin()->first.first;
}

void EventLoop::RunDue() {
    const int64_t now = clock_.NowMs();
    Entry entry;
    while (TakeDue(now, entry)) {
        RunGuarded(*entry.task);
        entry = Entry{};
    }
}

void EventLoop::Run() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (quit_) {
                return;
            }
        }
        Entry entry;
        if (TakeDue(clock_.NowMs(), entry)) {
            RunGuarded(*entry.task);
            continue;
        }
        std::unique_lock lock(mutex_);
        if (quit_) {
            return;
        }
        const int64_t next = agenda_.empty() ? kNothingDue : agenda_.begin()->first.first;
        if (next == kNothingDue) {
            wake_.wait(lock);
        } else {
            const int64_t wait = std::max<int64_t>(next - clock_.NowMs(), 0);
            wake_.wait_for(lock, std::chrono::milliseconds(wait));
        }
    }
}

void EventLoop::AdvanceVirtual(VirtualClock& clock, int64_t ms) {
    const int64_t target = clock.NowMs() + ms;
    for (;;) {
        RunDue();
        const int64_t next = NextDue();
        if (next > target) {
            break;
        }
        clock.SetMs(std::max(next, clock.NowMs()));
    }
    clock.SetMs(target);
    RunDue();
}

}  // namespace brivanta::common
