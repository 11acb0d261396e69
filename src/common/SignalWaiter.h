#pragma once

#include <pthread.h>

#include <functional>
#include <thread>

namespace brivanta::common {

// Turns SIGINT, SIGTERM and SIGHUP into calls of a handler on a thread of its
// own, so that the handler can post into an engine's loop instead of doing
// work inside a signal context.
//
// BlockSignals must run in main() before any other thread starts, so that
// every thread inherits the blocked set and only the waiter receives them.
class SignalWaiter {
  public:
    using Handler = std::function<void(int signal)>;

    static void BlockSignals();

    explicit SignalWaiter(Handler handler);
    ~SignalWaiter();
    SignalWaiter(const SignalWaiter&) = delete;
    SignalWaiter& operator=(const SignalWaiter&) = delete;

  private:
    void Wait();

    const Handler handler_;
    std::thread thread_;
};

}  // namespace brivanta::common
