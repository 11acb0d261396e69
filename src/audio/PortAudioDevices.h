#pragma once

#include <memory>
#include <string>

#include "audio/WaveDevice.h"
#include "common/Clock.h"

struct PaStreamParameters;

namespace brivanta::audio {

// The machine's sound devices through PortAudio (ALSA, JACK).
//
// Device numbers are stable for the life of the process: a device keeps its
// number across rescans (matched by host API and name), so a list taken
// earlier still opens the device it shows. The device list is rescanned
// (PortAudio re-initialised) when it is asked for at least two seconds after
// the last scan and no PortAudio stream of the process is open; otherwise the
// last scan is shown. The 44.1 kHz 16-bit stereo test of a device that
// passed it once is not repeated.
//
// Threads: every operation is thread-safe. Streams run PortAudio's callback
// on its audio thread; the callback only copies audio into or out of the
// buffers it was given and marks them finished, through a lock-free queue,
// with no allocation and no lock. Everything else happens on the owner's
// thread. PortAudio failures become result codes (its own negative codes),
// never exceptions. A machine without a sound card simply lists nothing.
class PortAudioBackend final : public IWaveBackend {
  public:
    explicit PortAudioBackend(common::IClock& clock, DeviceLog log = {});
    ~PortAudioBackend() override;
    PortAudioBackend(const PortAudioBackend&) = delete;
    PortAudioBackend& operator=(const PortAudioBackend&) = delete;

    std::vector<WaveDeviceInfo> Devices(WaveDirection direction) override;
    int QueryFormat(WaveDirection direction, int32_t deviceId,
                    const common::WaveFormatEx& format) override;
    int Open(WaveDirection direction, int32_t deviceId, const common::WaveFormatEx& format,
             std::unique_ptr<IWaveStream>& stream) override;

  private:
    int StreamParameters(WaveDirection direction, int32_t deviceId,
                         const common::WaveFormatEx& format, PaStreamParameters& parameters) const;
    struct State;
    std::unique_ptr<State> state_;
};

// PortAudio's text for one of its (negative) error codes.
std::string PortAudioErrorText(int code);

}  // namespace brivanta::audio
