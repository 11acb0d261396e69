#pragma once

// A scriptable codec layer for the converter's own rules: drivers and formats
// as a test lists them, and a stream whose conversion the test decides.

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/MSACM.h"

namespace brivanta::audio::test {

struct FakeFormat {
    uint32_t index = 0;
    std::string name;
    common::WaveFormatEx format;
    bool suggestOk = true;
};

struct FakeDriver {
    msacm::DriverId id = 0;
    std::string name;
    std::vector<FakeFormat> formats;
    bool detailsOk = true;
    bool openOk = true;
};

// What a stream's Convert saw.
struct ConvertCall {
    uint32_t flags = 0;
    uint32_t srcLength = 0;
};

// Shared between the fake layer, its streams and the test.
struct FakeStreamState {
    std::vector<ConvertCall> calls;
    // Decides one conversion; the default consumes everything and copies what fits.
    std::function<int(msacm::StreamHeader&, uint32_t)> convert = [](msacm::StreamHeader& header,
                                                                    uint32_t) {
        const uint32_t copied = std::min(header.cbSrcLength, header.cbDstLength);
        std::memcpy(header.pbDst, header.pbSrc, copied);
        header.cbSrcLengthUsed = header.cbSrcLength;
        header.cbDstLengthUsed = copied;
        return 0;
    };
    int sizeResult = 0;
    int64_t dstSize = -1;  // -1: as large as the source
    int prepareResult = 0;
    int unprepareCalls = 0;
    int destroyed = 0;
};

class FakeStream final : public msacm::IStream {
  public:
    explicit FakeStream(std::shared_ptr<FakeStreamState> state) : state_(std::move(state)) {}
    ~FakeStream() override { ++state_->destroyed; }
    int Size(uint32_t srcBytes, uint32_t& dstBytes) override {
        dstBytes = state_->dstSize < 0 ? srcBytes : static_cast<uint32_t>(state_->dstSize);
        return state_->sizeResult;
    }
    int PrepareHeader(msacm::StreamHeader&) override { return state_->prepareResult; }
    int UnprepareHeader(msacm::StreamHeader&) override {
        ++state_->unprepareCalls;
        return 0;
    }
    int Convert(msacm::StreamHeader& header, uint32_t flags) override {
        state_->calls.push_back({flags, header.cbSrcLength});
        return state_->convert(header, flags);
    }

  private:
    std::shared_ptr<FakeStreamState> state_;
};

struct StreamOpenCall {
    msacm::DriverId driver = 0;
    common::WaveFormatEx src;
    common::WaveFormatEx dst;
};

struct SuggestCall {
    msacm::DriverId driver = 0;
    uint16_t srcTag = 0;
    uint16_t dstTag = 0;
};

class FakeAcm final : public msacm::IAcm {
  public:
    int Metrics(uint32_t, uint32_t& value) override {
        value = 20;
        return metricsResult;
    }
    std::vector<msacm::DriverId> EnumDrivers() override {
        std::vector<msacm::DriverId> ids;
        for (const auto& driver : drivers) {
            ids.push_back(driver.id);
        }
        return ids;
    }
    int DriverDetails(msacm::DriverId id, std::string& longName) override {
        const FakeDriver* driver = Find(id);
        if (driver == nullptr || !driver->detailsOk) {
            return msacm::MMSYSERR_INVALHANDLE;
        }
        longName = driver->name;
        return 0;
    }
    int DriverOpen(msacm::DriverId id, msacm::DriverHandle& handle) override {
        const FakeDriver* driver = Find(id);
        if (driver == nullptr || !driver->openOk) {
            return msacm::MMSYSERR_NOTSUPPORTED;
        }
        handle.id = id;
        ++openDrivers;
        return 0;
    }
    void DriverClose(msacm::DriverHandle) override { --openDrivers; }
    int FormatEnum(const msacm::FormatBytes&, uint32_t,
                   const std::function<void(const msacm::FormatDetails&)>& onFormat) override {
        for (const auto& driver : drivers) {
            for (const auto& format : driver.formats) {
                onFormat({driver.id, format.index, format.format.wFormatTag, format.name,
                          msacm::EncodeFormat(format.format)});
            }
        }
        return 0;
    }
    int FormatSuggest(msacm::DriverHandle driver, const msacm::FormatBytes& src,
                      msacm::FormatBytes& dst, uint32_t) override {
        common::WaveFormatEx from;
        common::WaveFormatEx to;
        msacm::DecodeFormat(src, from);
        msacm::DecodeFormat(dst, to);
        suggestCalls.push_back({driver.id, from.wFormatTag, to.wFormatTag});
        if (pcmSuggestion) {
            dst = msacm::EncodeFormat(*pcmSuggestion);
            return suggestResult;
        }
        const common::WaveFormatEx& codec = from.wFormatTag == 1 ? to : from;
        for (const auto& d : drivers) {
            if (driver.id != 0 && d.id != driver.id) {
                continue;
            }
            for (const auto& format : d.formats) {
                if (format.format == codec) {
                    return format.suggestOk ? 0 : msacm::ACMERR_NOTPOSSIBLE;
                }
            }
        }
        return msacm::ACMERR_NOTPOSSIBLE;
    }
    int StreamOpen(std::unique_ptr<msacm::IStream>& stream, msacm::DriverHandle driver,
                   const msacm::FormatBytes& src, const msacm::FormatBytes& dst,
                   uint32_t) override {
        StreamOpenCall call{driver.id, {}, {}};
        msacm::DecodeFormat(src, call.src);
        msacm::DecodeFormat(dst, call.dst);
        openCalls.push_back(call);
        const int result = openResults.empty() ? 0 : openResults.front();
        if (!openResults.empty()) {
            openResults.erase(openResults.begin());
        }
        if (result == 0) {
            stream = std::make_unique<FakeStream>(state);
        }
        return result;
    }

    std::vector<FakeDriver> drivers;
    int metricsResult = 0;
    std::vector<int> openResults;  // results of the next StreamOpen calls; then 0
    std::optional<common::WaveFormatEx> pcmSuggestion;  // what FormatSuggest proposes, if set
    int suggestResult = 0;
    std::vector<StreamOpenCall> openCalls;
    std::vector<SuggestCall> suggestCalls;
    int openDrivers = 0;
    std::shared_ptr<FakeStreamState> state = std::make_shared<FakeStreamState>();

  private:
    const FakeDriver* Find(msacm::DriverId id) const {
        for (const auto& driver : drivers) {
            if (driver.id == id) {
                return &driver;
            }
        }
        return nullptr;
    }
};

// A codec format description for tests.
inline common::WaveFormatEx CodecFormat(uint16_t tag, uint32_t rate, uint16_t channels,
                                        uint32_t avgBytes, uint16_t blockAlign = 1,
                                        uint16_t bits = 0) {
    return common::WaveFormatEx{tag, channels, rate, avgBytes, blockAlign, bits, 0};
}

}  // namespace brivanta::audio::test
