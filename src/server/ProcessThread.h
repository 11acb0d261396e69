#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace brivanta::server {

// The server's audio thread: one pass every 10 ms (a capture poll, which runs
// plug-ins, encoder and queue appends), at the highest priority the system
// grants. Reconfiguring the audio path happens only between two passes: the
// main thread holds a PassLock for that, and no pass starts while it is held.
class TProcessThread {
  public:
    using Pass = std::function<void()>;
    using LogFn = std::function<void(const std::string&)>;

    TProcessThread(Pass pass, LogFn log);
    // Terminates and joins the thread.
    ~TProcessThread();
    TProcessThread(const TProcessThread&) = delete;
    TProcessThread& operator=(const TProcessThread&) = delete;

    // Held by the main thread while it reconfigures the capture or the encoder.
    [[nodiscard]] std::unique_lock<std::mutex> PassLock() { return std::unique_lock(passMutex_); }

    void Terminate();
    bool FWorking() const { return working_; }
    bool FFinished() const { return finished_; }

  private:
    void Execute();

    const Pass pass_;
    const LogFn log_;
    std::mutex passMutex_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> working_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

// Raises the calling thread to real-time scheduling where permitted; silent
// when it is not.
void RaiseThreadPriority();

}  // namespace brivanta::server
