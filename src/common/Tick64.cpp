#include "common/Tick64.h"

#include <ctime>
#include <utility>

namespace brivanta::common {

Tick64::Tick64(TickSource source) : source_(std::move(source)) {}

int64_t Tick64::Get() {
    std::lock_guard lock(mutex_);
    const uint32_t tick = source_();
    if (tick < lastTick_) {
        ++tickWraps_;
    }
    lastTick_ = tick;
    return (static_cast<int64_t>(tickWraps_) << 32) + tick;
}

uint32_t SystemTick32() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

}  // namespace brivanta::common
