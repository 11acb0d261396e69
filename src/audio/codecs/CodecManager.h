#pragma once

#include <memory>
#include <optional>

#include "audio/MSACM.h"
#include "audio/codecs/CodecDrivers.h"

namespace brivanta::audio::codecs {

// The codec layer on libavcodec: the drivers of AllDrivers(), identified by
// their position plus one. Holds no state of its own, so one instance may be
// shared by converters on different threads.
class CodecManager final : public msacm::IAcm {
  public:
    CodecManager();

    int Metrics(uint32_t metric, uint32_t& value) override;
    std::vector<msacm::DriverId> EnumDrivers() override;
    int DriverDetails(msacm::DriverId id, std::string& longName) override;
    int DriverOpen(msacm::DriverId id, msacm::DriverHandle& handle) override;
    void DriverClose(msacm::DriverHandle handle) override;
    int FormatEnum(const msacm::FormatBytes& pcm, uint32_t flags,
                   const std::function<void(const msacm::FormatDetails&)>& onFormat) override;
    int FormatSuggest(msacm::DriverHandle driver, const msacm::FormatBytes& src,
                      msacm::FormatBytes& dst, uint32_t flags) override;
    int StreamOpen(std::unique_ptr<msacm::IStream>& stream, msacm::DriverHandle driver,
                   const msacm::FormatBytes& src, const msacm::FormatBytes& dst,
                   uint32_t flags) override;

  private:
    const CodecDriver* Driver(msacm::DriverId id) const;
    // The format of driver (or of any driver, id 0) that description names:
    // equal tag, channels, rate, bits per sample and byte rate.
    std::optional<DriverFormat> Find(msacm::DriverId driver,
                                     const common::WaveFormatEx& description) const;
};

}  // namespace brivanta::audio::codecs
