#include "common/SignalWaiter.h"

#include <csignal>

namespace brivanta::common {

namespace {

// SIGUSR1 only wakes the waiter when it is to end.
sigset_t WaitedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    return set;
}

}  // namespace

void SignalWaiter::BlockSignals() {
    const sigset_t set = WaitedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWaiter::SignalWaiter(Handler handler)
    : handler_(std::move(handler)), thread_([this] { Wait(); }) {}

SignalWaiter::~SignalWaiter() {
    pthread_kill(thread_.native_handle(), SIGUSR1);
    thread_.join();
}

void SignalWaiter::Wait() {
    const sigset_t set = WaitedSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0 || signal == SIGUSR1) {
            return;
        }
        try {
            handler_(signal);
        } catch (...) {
            // A failing handler must not end the waiter; the next signal still counts.
        }
    }
}

}  // namespace brivanta::common
