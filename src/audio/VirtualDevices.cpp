#include "audio/VirtualDevices.h"

#include <cmath>
#include <cstdlib>

#include "audio/VirtualStreams.h"
#include "audio/WavReader.h"

namespace brivanta::audio {
namespace {

const char* const kToneName = "Virtual tone";
const char* const kSilenceName = "Virtual silence";
const char* const kWavInputName = "Virtual WAV input";
const char* const kNullOutputName = "Virtual null output";
const char* const kWavOutputName = "Virtual WAV output";

std::string EnvironmentText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool FormatUsable(const common::WaveFormatEx& format) {
    const bool knownBits = format.wBitsPerSample == 8 || format.wBitsPerSample == 16;
    return format.wFormatTag == common::kWaveFormatPcm && knownBits && format.nChannels >= 1 &&
           format.nChannels <= 8 && format.nSamplesPerSec >= 8000 &&
           format.nSamplesPerSec <= 192000 &&
           format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
}

}  // namespace

VirtualDeviceConfig VirtualDeviceConfig::FromEnvironment(const DeviceLog& log) {
    VirtualDeviceConfig config;
    config.wavInPath = EnvironmentText("BRIVANTA_WAV_IN");
    config.wavOutPath = EnvironmentText("BRIVANTA_WAV_OUT");
    const std::string skew = EnvironmentText("BRIVANTA_DEVICE_SKEW_PPM");
    if (!skew.empty()) {
        char* end = nullptr;
        const double ppm = std::strtod(skew.c_str(), &end);
        if (end == skew.c_str() || *end != '\0' || !std::isfinite(ppm) ||
            std::fabs(ppm) > kMaxSkewPpm) {
            if (log) {
                log("BRIVANTA_DEVICE_SKEW_PPM \"" + skew +
                    "\" is not a number from -100000 to 100000; ignored");
            }
        } else {
            config.skewPpm = ppm;
        }
    }
    return config;
}

VirtualBackend::VirtualBackend(common::IClock& clock, VirtualDeviceConfig config, DeviceLog log)
    : clock_(clock), config_(std::move(config)), log_(std::move(log)) {}

bool VirtualBackend::WavInputUsable() {
    if (config_.wavInPath.empty()) {
        return false;
    }
    WavReader reader;
    std::string error;
    const bool usable = reader.Open(config_.wavInPath, error);
    std::lock_guard lock(mutex_);
    if (error != lastWavInError_) {
        lastWavInError_ = error;
        if (!error.empty() && log_) {
            log_("Virtual WAV input is not available: " + error);
        }
    }
    return usable;
}

std::vector<WaveDeviceInfo> VirtualBackend::Devices(WaveDirection direction) {
    std::vector<WaveDeviceInfo> devices;
    if (direction == WaveDirection::Input) {
        devices.push_back({kToneId, kToneName, true});
        devices.push_back({kSilenceId, kSilenceName, true});
        if (WavInputUsable()) {
            devices.push_back({kWavInputId, kWavInputName, true});
        }
    } else {
        devices.push_back({kNullOutputId, kNullOutputName, true});
        if (!config_.wavOutPath.empty()) {
            devices.push_back({kWavOutputId, kWavOutputName, true});
        }
    }
    return devices;
}

bool VirtualBackend::DeviceExists(WaveDirection direction, int32_t deviceId) {
    if (direction == WaveDirection::Input) {
        return deviceId == kToneId || deviceId == kSilenceId ||
               (deviceId == kWavInputId && !config_.wavInPath.empty());
    }
    return deviceId == kNullOutputId || (deviceId == kWavOutputId && !config_.wavOutPath.empty());
}

int VirtualBackend::QueryFormat(WaveDirection direction, int32_t deviceId,
                                const common::WaveFormatEx& format) {
    if (!DeviceExists(direction, deviceId)) {
        return wave_error::kBadDeviceId;
    }
    return FormatUsable(format) ? 0 : wave_error::kBadFormat;
}

int VirtualBackend::Open(WaveDirection direction, int32_t deviceId,
                         const common::WaveFormatEx& format, std::unique_ptr<IWaveStream>& stream) {
    if (const int query = QueryFormat(direction, deviceId, format); query != 0) {
        return query;
    }
    return direction == WaveDirection::Input ? OpenInput(deviceId, format, stream)
                                             : OpenOutput(deviceId, format, stream);
}

int VirtualBackend::OpenInput(int32_t deviceId, const common::WaveFormatEx& format,
                              std::unique_ptr<IWaveStream>& stream) {
    std::unique_ptr<IVirtualSource> source;
    if (deviceId == kToneId) {
        source = MakeToneSource(format.nSamplesPerSec, format.nChannels);
    } else if (deviceId == kSilenceId) {
        source = MakeSilenceSource(format.nChannels);
    } else {
        auto reader = std::make_unique<WavReader>();
        std::string error;
        if (!reader->Open(config_.wavInPath, error)) {
            if (log_) {
                log_("Virtual WAV input: " + error);
            }
            return wave_error::kBadDeviceId;
        }
        source = MakeWavFileSource(std::move(reader), format.nSamplesPerSec, format.nChannels);
    }
    stream =
        std::make_unique<VirtualInputStream>(clock_, format, config_.skewPpm, std::move(source));
    return 0;
}

int VirtualBackend::OpenOutput(int32_t deviceId, const common::WaveFormatEx& format,
                               std::unique_ptr<IWaveStream>& stream) {
    if (deviceId == kNullOutputId) {
        stream = std::make_unique<VirtualOutputStream>(clock_, format, config_.skewPpm, nullptr,
                                                       nullptr, log_);
        return 0;
    }
    if (wavOutputInUse_.exchange(true)) {
        return wave_error::kAllocated;
    }
    auto writer = std::make_unique<WavWriter>();
    std::string error;
    if (!writer->Create(config_.wavOutPath, format.nSamplesPerSec, format.nChannels, error)) {
        wavOutputInUse_.store(false);
        if (log_) {
            log_("Virtual WAV output: " + error);
        }
        return wave_error::kError;
    }
    stream = std::make_unique<VirtualOutputStream>(clock_, format, config_.skewPpm,
                                                   std::move(writer), &wavOutputInUse_, log_);
    return 0;
}

}  // namespace brivanta::audio
