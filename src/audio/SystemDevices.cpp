#include "audio/SystemDevices.h"

#include "audio/PortAudioDevices.h"
#include "audio/VirtualDevices.h"

namespace brivanta::audio {

CombinedBackend::CombinedBackend(std::vector<std::unique_ptr<IWaveBackend>> parts)
    : parts_(std::move(parts)) {}

IWaveBackend* CombinedBackend::PartOf(int32_t deviceId) const {
    if (deviceId < 0 || static_cast<size_t>(deviceId / kIdsPerPart) >= parts_.size()) {
        return nullptr;
    }
    return parts_[static_cast<size_t>(deviceId / kIdsPerPart)].get();
}

std::vector<WaveDeviceInfo> CombinedBackend::Devices(WaveDirection direction) {
    std::vector<WaveDeviceInfo> devices;
    for (size_t part = 0; part < parts_.size(); ++part) {
        for (WaveDeviceInfo info : parts_[part]->Devices(direction)) {
            if (info.id >= 0 && info.id < kIdsPerPart) {
                info.id += static_cast<int32_t>(part) * kIdsPerPart;
                devices.push_back(std::move(info));
            }
        }
    }
    return devices;
}

int CombinedBackend::QueryFormat(WaveDirection direction, int32_t deviceId,
                                 const common::WaveFormatEx& format) {
    IWaveBackend* part = PartOf(deviceId);
    return part != nullptr ? part->QueryFormat(direction, deviceId % kIdsPerPart, format)
                           : wave_error::kBadDeviceId;
}

int CombinedBackend::Open(WaveDirection direction, int32_t deviceId,
                          const common::WaveFormatEx& format,
                          std::unique_ptr<IWaveStream>& stream) {
    IWaveBackend* part = PartOf(deviceId);
    return part != nullptr ? part->Open(direction, deviceId % kIdsPerPart, format, stream)
                           : wave_error::kBadDeviceId;
}

std::unique_ptr<IWaveBackend> MakeSystemBackend(common::IClock& clock, const DeviceLog& log) {
    std::vector<std::unique_ptr<IWaveBackend>> parts;
    parts.push_back(std::make_unique<PortAudioBackend>(clock, log));
    parts.push_back(
        std::make_unique<VirtualBackend>(clock, VirtualDeviceConfig::FromEnvironment(log), log));
    return std::make_unique<CombinedBackend>(std::move(parts));
}

}  // namespace brivanta::audio
