#include "audio/ACM.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace brivanta::audio {
namespace {

using msacm::FormatBytes;

// The extra size field of the PCM description: 18, as the enumeration expects.
constexpr uint16_t kPcmExtraSizeField = 18;
constexpr int kExceptionResult = 512;

std::string CutName(const std::string& name) {
    return name.substr(0, TACM::kMaxNameLength);
}

// Sets a flag for the lifetime of one conversion pass.
class PassFlag {
  public:
    explicit PassFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~PassFlag() { flag_ = false; }
    PassFlag(const PassFlag&) = delete;
    PassFlag& operator=(const PassFlag&) = delete;

  private:
    bool& flag_;
};

}  // namespace

uint16_t TACMFormatItem::FormatTag() const {
    return Description().wFormatTag;
}

common::WaveFormatEx TACMFormatItem::Description() const {
    common::WaveFormatEx description;
    msacm::DecodeFormat(Format, description);
    return description;
}

TACM::TACM(uint8_t direction, int samplesPerSec, int channels, uint16_t tagFilter,
           bool enumerateNow, std::shared_ptr<msacm::IAcm> acm)
    : TagFilter(tagFilter), acm_(std::move(acm)), direction_(direction) {
    RebuildPcmFormat(samplesPerSec, channels, 16);
    SetBufferSize(static_cast<int>(pcmFormat_.nAvgBytesPerSec / 4));
    threshold_ = srcSize_ / 4;
    if (enumerateNow) {
        Enumerate();
    }
}

TACM::~TACM() {
    try {
        stream_.reset();
    } catch (...) {  // clean-up always finishes
    }
}

void TACM::RebuildPcmFormat(int samplesPerSec, int channels, int bitsPerSample) {
    const auto blockAlign = static_cast<uint16_t>(bitsPerSample / 8 * channels);
    pcmFormat_.wFormatTag = common::kWaveFormatPcm;
    pcmFormat_.nChannels = static_cast<uint16_t>(channels);
    pcmFormat_.nSamplesPerSec = static_cast<uint32_t>(samplesPerSec);
    pcmFormat_.nBlockAlign = blockAlign;
    pcmFormat_.nAvgBytesPerSec = static_cast<uint32_t>(samplesPerSec) * blockAlign;
    pcmFormat_.wBitsPerSample = static_cast<uint16_t>(bitsPerSample);
    pcmFormat_.cbSize = kPcmExtraSizeField;
}

void TACM::SetSamplesPerSec(int Value) {
    RebuildPcmFormat(Value, Channels(), BitsPerSample());
}

void TACM::SetChannels(int Value) {
    RebuildPcmFormat(SamplesPerSec(), Value, BitsPerSample());
}

void TACM::SetBitsPerSample(int Value) {
    RebuildPcmFormat(SamplesPerSec(), Channels(), Value);
}

void TACM::Enumerate() {
    drivers_.clear();
    if (acm_->Metrics(msacm::ACM_METRIC_MAX_SIZE_FORMAT, maxFormatSize_) !=
        msacm::MMSYSERR_NOERROR) {
        maxFormatSize_ = 0;
        return;
    }
    RebuildPcmFormat(SamplesPerSec(), Channels(), BitsPerSample());
    common::WaveFormatEx enumTemplate = pcmFormat_;
    enumTemplate.wFormatTag = direction_;
    enumTemplate.cbSize = TagFilter != 0 ? TagFilter : kPcmExtraSizeField;

    for (msacm::DriverId id : acm_->EnumDrivers()) {
        std::string longName;
        if (acm_->DriverDetails(id, longName) == msacm::MMSYSERR_NOERROR) {
            auto item = std::make_unique<TACMDriverItem>();
            item->DriverId = id;
            item->Name = CutName(longName);
            drivers_.push_back(std::move(item));
        }
    }
    acm_->FormatEnum(
        msacm::EncodeFormat(pcmFormat_), msacm::ACM_FORMATENUMF_CONVERT,
        [&](const msacm::FormatDetails& details) { AcceptFormat(enumTemplate, details); });
    std::erase_if(drivers_, [](const auto& driver) { return driver->Formats.empty(); });
}

// Keeps a listed format when it passes the tag filter, fits the PCM side and
// its driver confirms that it converts in this converter's direction.
void TACM::AcceptFormat(const common::WaveFormatEx& enumTemplate,
                        const msacm::FormatDetails& details) {
    const uint16_t filter = enumTemplate.cbSize;
    common::WaveFormatEx listed;
    if (!(filter == 0 || filter == kPcmExtraSizeField || filter == details.formatTag) ||
        !msacm::DecodeFormat(details.format, listed) ||
        listed.nSamplesPerSec != enumTemplate.nSamplesPerSec ||
        listed.nChannels != enumTemplate.nChannels) {
        return;
    }
    const auto driver = std::find_if(drivers_.begin(), drivers_.end(), [&](const auto& item) {
        return item->DriverId == details.driverId;
    });
    msacm::DriverHandle handle;
    if (driver == drivers_.end() ||
        acm_->DriverOpen(details.driverId, handle) != msacm::MMSYSERR_NOERROR) {
        return;
    }
    FormatBytes codec = details.format;
    common::WaveFormatEx pcm = enumTemplate;
    pcm.wFormatTag = common::kWaveFormatPcm;
    pcm.cbSize = kPcmExtraSizeField;
    FormatBytes pcmBytes = msacm::EncodeFormat(pcm);
    const int suggested =
        direction_ == kEncode
            ? acm_->FormatSuggest(handle, pcmBytes, codec, msacm::ACM_FORMATSUGGESTF_WFORMATTAG)
            : acm_->FormatSuggest(handle, codec, pcmBytes, msacm::ACM_FORMATSUGGESTF_WFORMATTAG);
    acm_->DriverClose(handle);
    if (suggested != msacm::MMSYSERR_NOERROR) {
        return;
    }
    auto item = std::make_unique<TACMFormatItem>();
    item->DriverId = details.driverId;
    item->FormatIndex = details.formatIndex;
    item->Name = CutName(details.description);
    item->Format = details.format;
    (*driver)->Formats.push_back(std::move(item));
}

std::string TACM::DriverName(int Position) const {
    if (Position < 0 || Position >= DriverCount()) {
        return {};
    }
    return drivers_[Position]->Name;
}

std::string TACM::DriverNameById(msacm::DriverId DriverId) const {
    for (const auto& driver : drivers_) {
        if (driver->DriverId == DriverId) {
            return driver->Name;
        }
    }
    return {};
}

bool TACM::SelectDriver(const std::string& Name) {
    for (int i = 0; i < DriverCount(); ++i) {
        if (drivers_[i]->Name == Name) {
            DriverIndex = i;
            return true;
        }
    }
    return false;
}

const TACMDriverItem* TACM::SelectedDriver() const {
    if (DriverIndex < 0 || DriverIndex >= DriverCount()) {
        return nullptr;
    }
    return drivers_[DriverIndex].get();
}

int TACM::FormatCount() const {
    const TACMDriverItem* driver = SelectedDriver();
    return driver != nullptr ? static_cast<int>(driver->Formats.size()) : 0;
}

std::string TACM::FormatName(int Position) const {
    const TACMFormatItem* format = FormatAt(Position);
    return format != nullptr ? format->Name : std::string();
}

const TACMFormatItem* TACM::FormatAt(int Position) const {
    if (Position < 0 || Position >= FormatCount()) {
        return nullptr;
    }
    return SelectedDriver()->Formats[Position].get();
}

int TACM::FindFormat(uint16_t Tag, uint32_t FormatIndex) const {
    for (int i = 0; i < FormatCount(); ++i) {
        const TACMFormatItem& format = *SelectedDriver()->Formats[i];
        if (format.FormatTag() == Tag && format.FormatIndex == FormatIndex) {
            return i;
        }
    }
    return -1;
}

std::vector<const TACMFormatItem*> TACM::FindFormats(
    const common::WaveFormatEx& Description) const {
    std::vector<const TACMFormatItem*> found;
    for (const auto& driver : drivers_) {
        for (const auto& format : driver->Formats) {
            const common::WaveFormatEx f = format->Description();
            if (f.wFormatTag == Description.wFormatTag && f.nChannels == Description.nChannels &&
                f.wBitsPerSample == Description.wBitsPerSample &&
                f.nSamplesPerSec == Description.nSamplesPerSec &&
                f.nAvgBytesPerSec == Description.nAvgBytesPerSec) {
                found.push_back(format.get());
            }
        }
    }
    return found;
}

void TACM::SetBufferSize(int Size) {
    Size = std::max(Size, kMinBufferSize);
    srcBuffer_.assign(static_cast<size_t>(Size), 0);
    srcFill_ = 0;
    srcSize_ = Size;
    threshold_ = std::min(threshold_, Size);
}

void TACM::SetThreshold(int Value) {
    threshold_ = std::min(srcSize_, std::max(Value, kMinBufferSize));
}

int TACM::Open(const TACMFormatItem& FormatItem) {
    if (active_) {
        return -1;  // one stream at a time: the owner closes first
    }
    std::unique_ptr<msacm::IStream> stream;
    if (const int opened = OpenStream(FormatItem, stream); opened != msacm::MMSYSERR_NOERROR) {
        return opened;
    }
    if (const int prepared = PrepareStream(*stream); prepared != msacm::MMSYSERR_NOERROR) {
        dstBuffer_.clear();
        dstSize_ = 0;
        header_ = {};
        return prepared;  // the stream closes as it goes out of scope
    }
    stream_ = std::move(stream);
    convertFlags_ = msacm::ACM_STREAMCONVERTF_START;
    active_ = true;
    current_ = FormatItem;
    if (OnStart) {
        OnStart(*this);
    }
    return msacm::MMSYSERR_NOERROR;
}

int TACM::OpenStream(const TACMFormatItem& item, std::unique_ptr<msacm::IStream>& stream) {
    msacm::DriverHandle driver;
    if (OpenDriver) {
        if (const int opened = acm_->DriverOpen(item.DriverId, driver);
            opened != msacm::MMSYSERR_NOERROR) {
            return opened;
        }
    }
    const FormatBytes pcm = msacm::EncodeFormat(pcmFormat_);
    const uint32_t flags = msacm::ACM_STREAMOPENF_NONREALTIME;
    int result;
    if (direction_ == kEncode) {
        result = acm_->StreamOpen(stream, driver, pcm, item.Format, flags);
    } else {
        result = acm_->StreamOpen(stream, driver, item.Format, pcm, flags);
        if (result != msacm::MMSYSERR_NOERROR) {
            // Ask for a PCM format the codec decodes to, and let the layer choose the driver.
            FormatBytes suggested = pcm;
            result = acm_->FormatSuggest(driver, item.Format, suggested,
                                         msacm::ACM_FORMATSUGGESTF_WFORMATTAG);
            if (result == msacm::MMSYSERR_NOERROR && msacm::DecodeFormat(suggested, pcmFormat_)) {
                result = acm_->StreamOpen(stream, msacm::DriverHandle{}, item.Format,
                                          msacm::EncodeFormat(pcmFormat_), flags);
            }
        }
    }
    if (OpenDriver) {
        acm_->DriverClose(driver);
    }
    return result;
}

int TACM::PrepareStream(msacm::IStream& stream) {
    header_ = {};
    header_.cbStruct = msacm::kStreamHeaderSize;
    header_.pbSrc = srcBuffer_.data();
    header_.cbSrcLength = static_cast<uint32_t>(srcSize_);
    uint32_t dstSize = 0;
    if (const int sized = stream.Size(static_cast<uint32_t>(srcSize_), dstSize);
        sized != msacm::MMSYSERR_NOERROR) {
        return sized;
    }
    if (dstSize == 0) {
        return -1;
    }
    dstBuffer_.assign(dstSize, 0);
    dstSize_ = dstSize;
    header_.pbDst = dstBuffer_.data();
    header_.cbDstLength = dstSize_;
    return stream.PrepareHeader(header_);
}

void TACM::Convert(const uint8_t* Data, size_t Size) {
    const uint8_t* input = Data;
    size_t left = Data != nullptr ? Size : 0;
    while (ConvertPass(input, left) && left > 0) {
    }
}

bool TACM::ConvertPass(const uint8_t*& input, size_t& left) {
    if (inConvert_) {
        ReportError("Recurced!");
    }
    if (!active_) {
        return false;
    }
    PassFlag pass(inConvert_);
    const size_t copied = std::min(left, static_cast<size_t>(srcSize_ - srcFill_));
    if (copied > 0) {
        std::memcpy(srcBuffer_.data() + srcFill_, input, copied);
    }
    srcFill_ += static_cast<int>(copied);
    input += copied;
    left -= copied;

    header_.cbStruct = msacm::kStreamHeaderSize;
    header_.pbSrc = srcBuffer_.data();
    header_.cbSrcLength = static_cast<uint32_t>(srcFill_);
    header_.cbSrcLengthUsed = 0;
    header_.cbDstLengthUsed = 0;
    header_.pbDst = dstBuffer_.data();
    header_.cbDstLength = dstSize_;
    const bool ending = (convertFlags_ & msacm::ACM_STREAMCONVERTF_END) != 0;
    if (!ending && srcFill_ < threshold_) {
        return false;  // the bytes wait for the next call
    }

    std::string line = HeaderLine("hdr1: ");
    CallConvert(line);
    const uint32_t length = header_.cbSrcLength;
    uint32_t used = std::min(header_.cbSrcLengthUsed, length);
    const uint32_t produced = std::min(header_.cbDstLengthUsed, dstSize_);
    if (produced > 0 && OnHaveData) {
        OnHaveData(*this, dstBuffer_.data(), produced);
    }
    if (used == 0 && static_cast<int>(length) == srcSize_) {
        // A full buffer the codec did not touch is dropped, so it cannot stall the feed.
        ReportError("Error 1024." + line);
        used = length;
    }
    const uint32_t rest = length - used;
    if (used > 0) {
        if (OnSourceUsed) {
            OnSourceUsed(*this, srcBuffer_.data(), used);
        }
        std::memmove(srcBuffer_.data(), srcBuffer_.data() + used, rest);
    }
    srcFill_ = static_cast<int>(rest);
    if (ending) {
        left = 0;
    }
    convertFlags_ = 0;
    return true;
}

// Runs the codec on the header; a failure is reported with the header before
// and after the call.
void TACM::CallConvert(std::string& line) {
    int result;
    try {
        result = stream_->Convert(
            header_, static_cast<uint32_t>(convertFlags_) + msacm::ACM_STREAMCONVERTF_BLOCKALIGN);
    } catch (const std::exception& error) {
        ReportError(error.what());
        result = kExceptionResult;
    } catch (...) {
        ReportError("Unknown exception in the codec");
        result = kExceptionResult;
    }
    if (result != msacm::MMSYSERR_NOERROR) {
        ReportError("Error 512." + line);
        line = HeaderLine("hdr2: ");
        ReportError(line);
    }
}

std::string TACM::HeaderLine(const char* prefix) const {
    return prefix + std::to_string(header_.cbSrcLength) + "(" + std::to_string(srcSize_) +
           "), Dst " + std::to_string(header_.cbDstLengthUsed) + " (" + std::to_string(dstSize_) +
           "), Shift=" + std::to_string(srcFill_);
}

void TACM::ReportError(const std::string& text) {
    if (OnError) {
        OnError(*this, text);
    }
}

void TACM::Close() {
    if (active_) {
        convertFlags_ = msacm::ACM_STREAMCONVERTF_END;
        Convert(nullptr, 0);
    }
    active_ = false;
    try {
        if (stream_) {
            stream_->UnprepareHeader(header_);
        }
        dstBuffer_.clear();
        dstBuffer_.shrink_to_fit();
        dstSize_ = 0;
        header_ = {};
        stream_.reset();
    } catch (...) {  // clean-up always finishes
    }
    if (OnStop) {
        OnStop(*this);
    }
}

}  // namespace brivanta::audio
