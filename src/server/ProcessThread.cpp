#include "server/ProcessThread.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <exception>

namespace brivanta::server {

TProcessThread::TProcessThread(Pass pass, LogFn log)
    : pass_(std::move(pass)), log_(std::move(log)), thread_([this] { Execute(); }) {}

TProcessThread::~TProcessThread() {
    Terminate();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TProcessThread::Terminate() {
    terminated_ = true;
}

void TProcessThread::Execute() {
    RaiseThreadPriority();
    while (!terminated_) {
        {
            std::lock_guard lock(passMutex_);
            working_ = true;
            try {
                pass_();
            } catch (const std::exception& e) {
                log_(std::string("Processing error: ") + e.what());
            } catch (...) {
                log_("Processing error");
            }
            working_ = false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    finished_ = true;
}

void RaiseThreadPriority() {
    sched_param param{};
    // A middle real-time priority: above every normal thread, below the
    // kernel's own real-time work.
    param.sched_priority =
        (sched_get_priority_min(SCHED_FIFO) + sched_get_priority_max(SCHED_FIFO)) / 2;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

}  // namespace brivanta::server
