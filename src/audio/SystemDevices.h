#pragma once

#include <memory>
#include <vector>

#include "audio/WaveDevice.h"
#include "common/Clock.h"

namespace brivanta::audio {

// Several back ends shown as one: their devices in the order of the parts,
// each device number being the part's position times 65536 plus the part's
// own number. Thread-safe when its parts are.
class CombinedBackend final : public IWaveBackend {
  public:
    static constexpr int32_t kIdsPerPart = 65536;

    explicit CombinedBackend(std::vector<std::unique_ptr<IWaveBackend>> parts);

    std::vector<WaveDeviceInfo> Devices(WaveDirection direction) override;
    int QueryFormat(WaveDirection direction, int32_t deviceId,
                    const common::WaveFormatEx& format) override;
    int Open(WaveDirection direction, int32_t deviceId, const common::WaveFormatEx& format,
             std::unique_ptr<IWaveStream>& stream) override;

  private:
    IWaveBackend* PartOf(int32_t deviceId) const;

    const std::vector<std::unique_ptr<IWaveBackend>> parts_;
};

// The devices the programs use: the machine's (PortAudio) first, then the
// virtual devices configured from the environment.
std::unique_ptr<IWaveBackend> MakeSystemBackend(common::IClock& clock, const DeviceLog& log);

}  // namespace brivanta::audio
