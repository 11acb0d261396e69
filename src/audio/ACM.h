#pragma once

// The codec catalogue and one conversion stream in one class: the catalogue
// lists the codec drivers and their formats for the current PCM rate and
// channel count; the stream converts PCM to codec data (encode) or back
// (decode), synchronously, handing the output to OnHaveData before Convert
// returns.
//
// Threads: a TACM holds no lock. All calls on one converter, and the events
// they raise, run on one thread at a time; the owner provides that.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/MSACM.h"
#include "common/WaveFormat.h"

namespace brivanta::audio {

// One codec format of the catalogue.
struct TACMFormatItem {
    msacm::DriverId DriverId = 0;
    uint32_t FormatIndex = 0;   // the driver's own index of the format
    std::string Name;           // at most 128 characters
    msacm::FormatBytes Format;  // WaveFormatEx followed by the codec's extra bytes

    uint16_t FormatTag() const;
    // The first 18 bytes of Format.
    common::WaveFormatEx Description() const;
};

// One codec driver with at least one usable format.
struct TACMDriverItem {
    msacm::DriverId DriverId = 0;
    std::string Name;  // at most 128 characters
    std::vector<std::unique_ptr<TACMFormatItem>> Formats;
};

class TACM {
  public:
    using TDataEvent = std::function<void(TACM& Sender, const uint8_t* Buffer, uint32_t Size)>;
    using TErrorEvent = std::function<void(TACM& Sender, const std::string& Text)>;
    using TNotifyEvent = std::function<void(TACM& Sender)>;

    static constexpr uint8_t kEncode = 0;  // PCM to codec
    static constexpr uint8_t kDecode = 1;  // codec to PCM
    static constexpr size_t kMaxNameLength = 128;
    static constexpr int kMinBufferSize = 512;

    // Create: the PCM side is 16-bit at the given rate and channel count; the
    // catalogue is enumerated at once when enumerateNow is set.
    TACM(uint8_t direction, int samplesPerSec, int channels, uint16_t tagFilter, bool enumerateNow,
         std::shared_ptr<msacm::IAcm> acm = msacm::CreateCodecLayer());
    // Releases an open stream without a flush and without events; owners call
    // Close first when they want the tail.
    ~TACM();
    TACM(const TACM&) = delete;
    TACM& operator=(const TACM&) = delete;

    // Catalogue.
    void Enumerate();
    int DriverCount() const { return static_cast<int>(drivers_.size()); }
    std::string DriverName(int Position) const;
    std::string DriverNameById(msacm::DriverId DriverId) const;
    bool SelectDriver(const std::string& Name);
    int FormatCount() const;
    std::string FormatName(int Position) const;
    const TACMFormatItem* FormatAt(int Position) const;
    int FindFormat(uint16_t Tag, uint32_t FormatIndex) const;
    // All formats of all drivers that match tag, channels, bits per sample,
    // rate and byte rate of Description, in catalogue order. The items stay
    // owned by the catalogue.
    std::vector<const TACMFormatItem*> FindFormats(const common::WaveFormatEx& Description) const;

    // Conversion stream.
    void SetBufferSize(int Size);
    void SetThreshold(int Value);
    int Open(const TACMFormatItem& FormatItem);
    void Convert(const uint8_t* Data, size_t Size);
    void Close();

    int SamplesPerSec() const { return static_cast<int>(pcmFormat_.nSamplesPerSec); }
    int Channels() const { return pcmFormat_.nChannels; }
    int BitsPerSample() const { return pcmFormat_.wBitsPerSample; }
    void SetSamplesPerSec(int Value);
    void SetChannels(int Value);
    void SetBitsPerSample(int Value);

    uint32_t MaxFormatSize() const { return maxFormatSize_; }
    const std::vector<std::unique_ptr<TACMDriverItem>>& Drivers() const { return drivers_; }
    const common::WaveFormatEx& PcmFormat() const { return pcmFormat_; }
    const uint8_t* SrcBuffer() const { return srcBuffer_.data(); }
    int SrcSize() const { return srcSize_; }
    uint32_t DstSize() const { return dstSize_; }
    int SrcFill() const { return srcFill_; }
    int Threshold() const { return threshold_; }
    bool Active() const { return active_; }
    uint8_t Direction() const { return direction_; }
    int ConvertFlags() const { return convertFlags_; }
    bool InConvert() const { return inConvert_; }
    // The format of the open stream: a copy kept by the converter, so a
    // rebuild of the catalogue leaves it intact. Null before the first Open.
    const TACMFormatItem* Current() const { return current_ ? &*current_ : nullptr; }

    int32_t DriverIndex = -1;  // the selected driver; out of range = none
    uint16_t TagFilter = 0;    // 0 = all tags
    bool OpenDriver = true;    // open the stream on the format's own driver

    TDataEvent OnHaveData;
    TDataEvent OnSourceUsed;
    TErrorEvent OnError;
    TNotifyEvent OnStop;
    TNotifyEvent OnStart;

  private:
    void RebuildPcmFormat(int samplesPerSec, int channels, int bitsPerSample);
    void AcceptFormat(const common::WaveFormatEx& enumTemplate,
                      const msacm::FormatDetails& details);
    const TACMDriverItem* SelectedDriver() const;
    int OpenStream(const TACMFormatItem& item, std::unique_ptr<msacm::IStream>& stream);
    int PrepareStream(msacm::IStream& stream);
    // One pass of Convert; returns false when the remaining input is to stop.
    bool ConvertPass(const uint8_t*& input, size_t& left);
    void CallConvert(std::string& line);
    std::string HeaderLine(const char* prefix) const;
    void ReportError(const std::string& text);

    std::shared_ptr<msacm::IAcm> acm_;
    uint32_t maxFormatSize_ = 0;
    std::vector<std::unique_ptr<TACMDriverItem>> drivers_;
    common::WaveFormatEx pcmFormat_;
    std::vector<uint8_t> srcBuffer_;
    int srcSize_ = 0;
    std::vector<uint8_t> dstBuffer_;
    uint32_t dstSize_ = 0;
    int srcFill_ = 0;
    int threshold_ = 0;
    msacm::StreamHeader header_;
    bool active_ = false;
    uint8_t direction_ = kEncode;
    int convertFlags_ = 0;
    std::unique_ptr<msacm::IStream> stream_;
    std::optional<TACMFormatItem> current_;
    bool inConvert_ = false;
};

}  // namespace brivanta::audio
