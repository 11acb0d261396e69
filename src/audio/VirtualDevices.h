#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "audio/WaveDevice.h"
#include "common/Clock.h"

namespace brivanta::audio {

// What the virtual devices of a process do, normally read from the environment.
struct VirtualDeviceConfig {
    std::string wavInPath;   // BRIVANTA_WAV_IN: the file "Virtual WAV input" plays
    std::string wavOutPath;  // BRIVANTA_WAV_OUT: the file "Virtual WAV output" writes
    double skewPpm = 0.0;    // BRIVANTA_DEVICE_SKEW_PPM: how fast (+) or slow (-) they run

    // Reads the three variables; a skew that is not a number, or beyond
    // +-100000 ppm, is logged and ignored.
    static VirtualDeviceConfig FromEnvironment(const DeviceLog& log);
};

inline constexpr double kMaxSkewPpm = 100000.0;

// Devices that exist on every machine, paced by the injected clock like a
// sound card: the frames due at a moment are the time since Start times the
// rate, skewed. They have no audio thread: their work happens in AddBuffer
// and Pump, on the owner's thread, which makes them deterministic on a
// virtual clock.
//
// Inputs: "Virtual tone" (1 kHz at -12 dBFS on every channel), "Virtual
// silence", and "Virtual WAV input" when wavInPath names a readable PCM WAV
// file (played once, then silence). Outputs: "Virtual null output" (discards)
// and "Virtual WAV output" when wavOutPath is set (written as 16-bit PCM WAV
// from the start of each open, header valid after every block; one open at
// a time).
class VirtualBackend final : public IWaveBackend {
  public:
    static constexpr int32_t kToneId = 0;
    static constexpr int32_t kSilenceId = 1;
    static constexpr int32_t kWavInputId = 2;
    static constexpr int32_t kNullOutputId = 0;
    static constexpr int32_t kWavOutputId = 1;

    VirtualBackend(common::IClock& clock, VirtualDeviceConfig config, DeviceLog log = {});

    std::vector<WaveDeviceInfo> Devices(WaveDirection direction) override;
    int QueryFormat(WaveDirection direction, int32_t deviceId,
                    const common::WaveFormatEx& format) override;
    int Open(WaveDirection direction, int32_t deviceId, const common::WaveFormatEx& format,
             std::unique_ptr<IWaveStream>& stream) override;

  private:
    bool WavInputUsable();
    bool DeviceExists(WaveDirection direction, int32_t deviceId);
    int OpenInput(int32_t deviceId, const common::WaveFormatEx& format,
                  std::unique_ptr<IWaveStream>& stream);
    int OpenOutput(int32_t deviceId, const common::WaveFormatEx& format,
                   std::unique_ptr<IWaveStream>& stream);

    common::IClock& clock_;
    const VirtualDeviceConfig config_;
    const DeviceLog log_;
    std::atomic<bool> wavOutputInUse_{false};  // set while a WAV output stream is open
    std::mutex mutex_;
    std::string lastWavInError_;  // guarded by mutex_; logged once per change
};

}  // namespace brivanta::audio
