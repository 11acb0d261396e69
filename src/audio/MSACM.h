#pragma once

// The codec layer that the converter talks to, in the shape of the Audio
// Compression Manager: driver and format enumeration, format suggestion and
// conversion streams between two format descriptions. A format description is
// the 18-byte WaveFormatEx followed by the codec's extra bytes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/WaveFormat.h"

namespace brivanta::audio::msacm {

// Result codes (0 = success), numbered as the platform numbers them.
inline constexpr int MMSYSERR_NOERROR = 0;
inline constexpr int MMSYSERR_ERROR = 1;
inline constexpr int MMSYSERR_INVALHANDLE = 5;
inline constexpr int MMSYSERR_NOMEM = 7;
inline constexpr int MMSYSERR_NOTSUPPORTED = 8;
inline constexpr int MMSYSERR_INVALFLAG = 10;
inline constexpr int MMSYSERR_INVALPARAM = 11;
inline constexpr int ACMERR_NOTPOSSIBLE = 512;

inline constexpr uint32_t ACM_METRIC_MAX_SIZE_FORMAT = 50;
inline constexpr uint32_t ACM_FORMATENUMF_CONVERT = 1048576;
inline constexpr uint32_t ACM_FORMATSUGGESTF_WFORMATTAG = 65536;
inline constexpr uint32_t ACM_STREAMOPENF_NONREALTIME = 4;
inline constexpr uint32_t ACM_STREAMSIZEF_SOURCE = 0;
inline constexpr uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 4;
inline constexpr uint32_t ACM_STREAMCONVERTF_START = 16;
inline constexpr uint32_t ACM_STREAMCONVERTF_END = 32;

inline constexpr uint32_t kStreamHeaderSize = 84;

// Identifies one driver of the layer; 0 is none.
using DriverId = uint32_t;

// An opened driver; id 0 means "no particular driver".
struct DriverHandle {
    DriverId id = 0;
};

// A format description: WaveFormatEx (18 bytes, little-endian) plus extra bytes.
using FormatBytes = std::vector<uint8_t>;

FormatBytes EncodeFormat(const common::WaveFormatEx& format,
                         const std::vector<uint8_t>& extra = {});
// Reads the first 18 bytes; false when there are fewer.
bool DecodeFormat(const uint8_t* bytes, size_t size, common::WaveFormatEx& format);
inline bool DecodeFormat(const FormatBytes& bytes, common::WaveFormatEx& format) {
    return DecodeFormat(bytes.data(), bytes.size(), format);
}

// One format listed by the enumeration.
struct FormatDetails {
    DriverId driverId = 0;
    uint32_t formatIndex = 0;
    uint16_t formatTag = 0;
    std::string description;
    FormatBytes format;
};

// The one conversion header of a stream. The caller owns both buffers.
struct StreamHeader {
    uint32_t cbStruct = 0;
    uint32_t fdwStatus = 0;
    uint8_t* pbSrc = nullptr;
    uint32_t cbSrcLength = 0;
    uint32_t cbSrcLengthUsed = 0;
    uint8_t* pbDst = nullptr;
    uint32_t cbDstLength = 0;
    uint32_t cbDstLengthUsed = 0;
};

// An open conversion stream. Not thread-safe: one caller at a time.
class IStream {
  public:
    virtual ~IStream() = default;
    // The largest output that srcBytes of input can produce in one conversion.
    virtual int Size(uint32_t srcBytes, uint32_t& dstBytes) = 0;
    virtual int PrepareHeader(StreamHeader& header) = 0;
    virtual int UnprepareHeader(StreamHeader& header) = 0;
    // Converts from the header's source into its destination and reports the
    // bytes used on both sides. With BLOCKALIGN only whole source blocks are
    // consumed; START marks the first call after opening; END flushes what the
    // codec holds back.
    virtual int Convert(StreamHeader& header, uint32_t flags) = 0;
};

// The layer as a whole. Implementations are immutable after construction and
// may be shared by converters on different threads.
class IAcm {
  public:
    virtual ~IAcm() = default;
    virtual int Metrics(uint32_t metric, uint32_t& value) = 0;
    // Driver identifiers in the layer's fixed order.
    virtual std::vector<DriverId> EnumDrivers() = 0;
    virtual int DriverDetails(DriverId id, std::string& longName) = 0;
    virtual int DriverOpen(DriverId id, DriverHandle& handle) = 0;
    virtual void DriverClose(DriverHandle handle) = 0;
    // Lists, driver by driver, the formats that pcm can be converted to or from.
    virtual int FormatEnum(const FormatBytes& pcm, uint32_t flags,
                           const std::function<void(const FormatDetails&)>& onFormat) = 0;
    // Finds a target for src with dst's format tag, on the given driver or any
    // (handle id 0). The target is written to dst.
    virtual int FormatSuggest(DriverHandle driver, const FormatBytes& src, FormatBytes& dst,
                              uint32_t flags) = 0;
    virtual int StreamOpen(std::unique_ptr<IStream>& stream, DriverHandle driver,
                           const FormatBytes& src, const FormatBytes& dst, uint32_t flags) = 0;
};

// The codec drivers of this machine, on libavcodec.
std::shared_ptr<IAcm> CreateCodecLayer();

}  // namespace brivanta::audio::msacm
