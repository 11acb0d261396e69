#include "common/Clock.h"

#include "common/DateTime.h"

namespace brivanta::common {

SystemClock::SystemClock() : tick_(SystemTick32) {}

int64_t SystemClock::NowMs() {
    return tick_.Get();
}

double SystemClock::NowUtcDays() {
    return NowUtc();
}

double SystemClock::NowLocalDays() {
    return NowLocal();
}

VirtualClock::VirtualClock(int64_t startMs, double startUtcDays)
    : startMs_(startMs), startUtcDays_(startUtcDays), nowMs_(startMs) {}

double VirtualClock::NowUtcDays() {
    return startUtcDays_ + static_cast<double>(nowMs_.load() - startMs_) / kMsPerDay;
}

}  // namespace brivanta::common
