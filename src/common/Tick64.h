#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

namespace brivanta::common {

// A 64-bit millisecond counter built over a 32-bit tick that wraps to 0 after
// 2^32 ms (about 49.7 days). Every wrap seen is counted, so the result keeps
// growing as long as Get() is called at least once per wrap period.
// Thread-safe: peer and processing threads read it too.
class Tick64 {
  public:
    using TickSource = std::function<uint32_t()>;

    explicit Tick64(TickSource source);

    int64_t Get();

  private:
    TickSource source_;
    std::mutex mutex_;
    uint32_t lastTick_ = 0;   // guarded by mutex_
    uint32_t tickWraps_ = 0;  // guarded by mutex_
};

// The system's 32-bit millisecond tick: the monotonic time since boot, cut to
// 32 bits like the tick of the platform the protocol was first built on.
uint32_t SystemTick32();

}  // namespace brivanta::common
