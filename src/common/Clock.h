#pragma once

#include <atomic>
#include <cstdint>

#include "common/Tick64.h"

namespace brivanta::common {

// The time source every engine reads. Injected, so that tests can run time
// forward without sleeping.
class IClock {
  public:
    virtual ~IClock() = default;
    // Monotonic milliseconds (the 64-bit tick); never negative, never decreasing.
    virtual int64_t NowMs() = 0;
    // Wall-clock time as a day count since 30 December 1899, UTC.
    virtual double NowUtcDays() = 0;
    // Wall-clock time as a day count, local time.
    virtual double NowLocalDays() = 0;
};

// The machine's clocks.
class SystemClock final : public IClock {
  public:
    SystemClock();
    int64_t NowMs() override;
    double NowUtcDays() override;
    double NowLocalDays() override;

  private:
    Tick64 tick_;
};

// A clock that moves only when told to. Thread-safe.
class VirtualClock final : public IClock {
  public:
    explicit VirtualClock(int64_t startMs = 1000, double startUtcDays = 46000.0);

    int64_t NowMs() override { return nowMs_.load(); }
    double NowUtcDays() override;
    double NowLocalDays() override { return NowUtcDays(); }

    void Advance(int64_t ms) { nowMs_ += ms; }
    void SetMs(int64_t ms) { nowMs_ = ms; }

  private:
    const int64_t startMs_;
    const double startUtcDays_;
    std::atomic<int64_t> nowMs_;
};

}  // namespace brivanta::common
