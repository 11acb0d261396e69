#include "audio/codecs/CodecManager.h"

#include <mutex>

#include "audio/codecs/CodecStreams.h"

extern "C" {
#include <libavutil/log.h>
}

namespace brivanta::audio::codecs {
namespace {

using common::WaveFormatEx;

bool IsPcm16(const WaveFormatEx& format) {
    return format.wFormatTag == kTagPcm && format.wBitsPerSample == 16;
}

bool SameSignal(const WaveFormatEx& a, const WaveFormatEx& b) {
    return a.nSamplesPerSec == b.nSamplesPerSec && a.nChannels == b.nChannels;
}

std::vector<msacm::DriverId> AllIds() {
    std::vector<msacm::DriverId> ids;
    for (size_t i = 0; i < AllDrivers().size(); ++i) {
        ids.push_back(static_cast<msacm::DriverId>(i + 1));
    }
    return ids;
}

}  // namespace

CodecManager::CodecManager() {
    // libavcodec reports failures through return codes too; its console
    // messages would only clutter the programs' output.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
}

int CodecManager::Metrics(uint32_t metric, uint32_t& value) {
    if (metric != msacm::ACM_METRIC_MAX_SIZE_FORMAT) {
        return msacm::MMSYSERR_NOTSUPPORTED;
    }
    value = kMaxFormatSize;
    return msacm::MMSYSERR_NOERROR;
}

std::vector<msacm::DriverId> CodecManager::EnumDrivers() {
    return AllIds();
}

const CodecDriver* CodecManager::Driver(msacm::DriverId id) const {
    const auto& drivers = AllDrivers();
    return id >= 1 && id <= drivers.size() ? &drivers[id - 1] : nullptr;
}

int CodecManager::DriverDetails(msacm::DriverId id, std::string& longName) {
    const CodecDriver* driver = Driver(id);
    if (driver == nullptr) {
        return msacm::MMSYSERR_INVALHANDLE;
    }
    longName = driver->name;
    return msacm::MMSYSERR_NOERROR;
}

int CodecManager::DriverOpen(msacm::DriverId id, msacm::DriverHandle& handle) {
    if (Driver(id) == nullptr) {
        return msacm::MMSYSERR_INVALHANDLE;
    }
    handle.id = id;
    return msacm::MMSYSERR_NOERROR;
}

void CodecManager::DriverClose(msacm::DriverHandle) {}

int CodecManager::FormatEnum(const msacm::FormatBytes& pcm, uint32_t,
                             const std::function<void(const msacm::FormatDetails&)>& onFormat) {
    WaveFormatEx source;
    if (!msacm::DecodeFormat(pcm, source)) {
        return msacm::MMSYSERR_INVALPARAM;
    }
    if (!IsPcm16(source)) {
        return msacm::MMSYSERR_NOERROR;  // every driver works from 16-bit PCM only
    }
    for (msacm::DriverId id : AllIds()) {
        for (const DriverFormat& format :
             Driver(id)->formats(source.nSamplesPerSec, source.nChannels)) {
            onFormat({id, format.index, format.format.wFormatTag, format.name,
                      msacm::EncodeFormat(format.format, format.extra)});
        }
    }
    return msacm::MMSYSERR_NOERROR;
}

std::optional<DriverFormat> CodecManager::Find(msacm::DriverId driver,
                                               const WaveFormatEx& description) const {
    for (msacm::DriverId id : AllIds()) {
        if (driver != 0 && id != driver) {
            continue;
        }
        for (DriverFormat& format :
             Driver(id)->formats(description.nSamplesPerSec, description.nChannels)) {
            const WaveFormatEx& f = format.format;
            if (f.wFormatTag == description.wFormatTag &&
                f.wBitsPerSample == description.wBitsPerSample &&
                f.nAvgBytesPerSec == description.nAvgBytesPerSec) {
                return std::move(format);
            }
        }
    }
    return std::nullopt;
}

int CodecManager::FormatSuggest(msacm::DriverHandle driver, const msacm::FormatBytes& src,
                                msacm::FormatBytes& dst, uint32_t) {
    WaveFormatEx source;
    WaveFormatEx target;
    if (!msacm::DecodeFormat(src, source) || !msacm::DecodeFormat(dst, target)) {
        return msacm::MMSYSERR_INVALPARAM;
    }
    if (driver.id != 0 && Driver(driver.id) == nullptr) {
        return msacm::MMSYSERR_INVALHANDLE;
    }
    if (IsPcm16(source)) {
        for (msacm::DriverId id : AllIds()) {
            if (driver.id != 0 && id != driver.id) {
                continue;
            }
            for (const DriverFormat& format :
                 Driver(id)->formats(source.nSamplesPerSec, source.nChannels)) {
                if (format.format.wFormatTag == target.wFormatTag) {
                    dst = msacm::EncodeFormat(format.format, format.extra);
                    return msacm::MMSYSERR_NOERROR;
                }
            }
        }
    }
    if (target.wFormatTag == kTagPcm && Find(driver.id, source)) {
        dst =
            msacm::EncodeFormat(common::MakePcmFormat(source.nSamplesPerSec, source.nChannels, 16));
        return msacm::MMSYSERR_NOERROR;
    }
    return msacm::ACMERR_NOTPOSSIBLE;
}

int CodecManager::StreamOpen(std::unique_ptr<msacm::IStream>& stream, msacm::DriverHandle driver,
                             const msacm::FormatBytes& src, const msacm::FormatBytes& dst,
                             uint32_t) {
    WaveFormatEx source;
    WaveFormatEx target;
    if (!msacm::DecodeFormat(src, source) || !msacm::DecodeFormat(dst, target)) {
        return msacm::MMSYSERR_INVALPARAM;
    }
    if (driver.id != 0 && Driver(driver.id) == nullptr) {
        return msacm::MMSYSERR_INVALHANDLE;
    }
    if (!SameSignal(source, target)) {
        return msacm::ACMERR_NOTPOSSIBLE;  // no resampling or channel mixing here
    }
    if (IsPcm16(source)) {
        if (const auto format = Find(driver.id, target)) {
            return EncoderStream::Open(format->setup, source, target, stream);
        }
    } else if (IsPcm16(target)) {
        if (const auto format = Find(driver.id, source)) {
            return DecoderStream::Open(format->setup, source, target, stream);
        }
    }
    return msacm::ACMERR_NOTPOSSIBLE;
}

}  // namespace brivanta::audio::codecs

namespace brivanta::audio::msacm {

std::shared_ptr<IAcm> CreateCodecLayer() {
    return std::make_shared<codecs::CodecManager>();
}

}  // namespace brivanta::audio::msacm
