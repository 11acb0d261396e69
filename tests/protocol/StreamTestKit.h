#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Helpers shared by the tests that run over loopback sockets.
namespace brivanta::testkit {

// Collects log lines from any thread and lets a test wait for one.
class LogSink {
  public:
    std::function<void(const std::string&)> Writer() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
            changed_.notify_all();
        };
    }

    // Waits (at most 5 s) until a line equal to `line` has arrived.
    bool WaitFor(const std::string& line) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return HasLocked(line); });
    }

    // Waits (at most 5 s) until a line for which `matches` holds has arrived.
    bool WaitForMatch(const std::function<bool(const std::string&)>& matches) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] {
            return std::any_of(lines_.begin(), lines_.end(), matches);
        });
    }

    bool Has(const std::string& line) {
        std::lock_guard lock(mutex_);
        return HasLocked(line);
    }

    std::vector<std::string> Lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    bool HasLocked(const std::string& line) const {
        for (const auto& seen : lines_) {
            if (seen == line) {
                return true;
            }
        }
        return false;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

// Waits (at most 5 s) until `done` holds, checking every millisecond.
inline bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace brivanta::testkit
