#include "client/WPlayer.h"

#include <algorithm>

#include "audio/PcmPeaks.h"

namespace brivanta::client {

TWavePlayer::TWavePlayer(audio::IWaveBackend& backend) : backend_(backend) {
    ListDevices(audio::DeviceNameForm::Trimmed);
    currentDevice_ = devices_.empty() ? -1 : 0;
}

TWavePlayer::~TWavePlayer() {
    Close();
}

void TWavePlayer::ListDevices(audio::DeviceNameForm form) {
    devices_ = audio::ListUsableDevices(backend_, audio::WaveDirection::Output, form);
}

void TWavePlayer::RefreshDevices() {
    ListDevices(audio::DeviceNameForm::AsReported);
}

std::string TWavePlayer::DeviceName(int32_t index) const {
    if (index < 0 || index >= DeviceCount()) {
        return {};
    }
    return devices_[static_cast<size_t>(index)].name;
}

void TWavePlayer::SelectDevice(int32_t index) {
    if (index >= 0 && index < DeviceCount()) {
        currentDevice_ = index;
    }
}

bool TWavePlayer::SelectByName(const std::string& name) {
    const int32_t index = IndexOfDevice(name);
    SelectDevice(index);
    return index >= 0;
}

int32_t TWavePlayer::IndexOfDevice(const std::string& name) const {
    for (int32_t i = 0; i < DeviceCount(); ++i) {
        if (devices_[static_cast<size_t>(i)].name == name) {
            return i;
        }
    }
    return -1;
}

int TWavePlayer::Open() {
    if (active_ || currentDevice_ < 0 || currentDevice_ >= DeviceCount()) {
        return -1;
    }
    const int32_t deviceId = devices_[static_cast<size_t>(currentDevice_)].id;
    const common::WaveFormatEx format = common::MakePcmFormat(
        static_cast<uint32_t>(std::max(SamplesPerSec, 0)), Channels, BitsPerSample);
    if (const int query = backend_.QueryFormat(audio::WaveDirection::Output, deviceId, format);
        query != 0) {
        return query;
    }
    std::unique_ptr<audio::IWaveStream> stream;
    if (const int open = backend_.Open(audio::WaveDirection::Output, deviceId, format, stream);
        open != 0) {
        return open;
    }
    if (const int start = stream->Start(); start != 0) {
        return start;  // the stream closes as it goes
    }
    handle_ = std::move(stream);
    format_ = format;
    queue_.clear();
    active_ = true;
    return 0;
}

void TWavePlayer::Close() {
    active_ = false;
    if (handle_) {
        handle_->Reset();
    }
    queue_.clear();  // not reported
    peakLeft_ = 0;
    peakRight_ = 0;
    buffered_ = 0.0;
    handle_.reset();
}

bool TWavePlayer::Write(const uint8_t* data, int32_t size) {
    if (!active_ || data == nullptr || size <= 0) {
        return false;
    }
    buffered_ = BytesToSeconds(PendingBytes());
    QueuedBlock block{std::make_unique<audio::WaveBuffer>(static_cast<size_t>(size)),
                      std::vector<uint8_t>(data, data + size)};
    audio::ScalePcmVolume(data, block.header->data.data(), size, format_.wBitsPerSample, volume_);
    block.header->bytesUsed = static_cast<uint32_t>(size);
    queue_.push_back(std::move(block));
    if (handle_->AddBuffer(*queue_.back().header) != 0) {
        queue_.pop_back();  // the device refused it: the block is lost, nothing else changes
        return false;
    }
    buffered_ = BytesToSeconds(PendingBytes());
    return true;
}

void TWavePlayer::Poll() {
    if (!active_) {
        return;
    }
    handle_->Pump();
    // Taken out first, so that a handler may write or even close the player.
    std::vector<QueuedBlock> played;
    uint64_t pending = 0;
    for (auto it = queue_.begin(); it != queue_.end();) {
        if (it->header->IsFinished()) {
            played.push_back(std::move(*it));
            it = queue_.erase(it);
        } else {
            pending += it->header->bytesUsed;
            ++it;
        }
    }
    buffered_ = BytesToSeconds(pending);
    bool first = true;
    for (QueuedBlock& block : played) {
        if (!active_) {
            return;  // closed by a handler: the rest is dropped unreported
        }
        ReportPlayed(block, first);
        first = false;
    }
}

void TWavePlayer::ReportPlayed(QueuedBlock& block, bool first) {
    const auto size = static_cast<int32_t>(block.copy.size());
    if (OnBlockPlayed) {
        OnBlockPlayed(*this, block.copy.data(), size, block.header->data.data());
    } else {
        MeasurePeaks(block.header->data.data(), size, first);
    }
}

void TWavePlayer::SetVolume(int32_t value) {
    volume_ = std::clamp(value, 0, 100);
    if (queue_.size() <= 1) {
        return;
    }
    // Queued blocks take the new volume at once; a block the device has
    // begun keeps the old one, so it is never changed under the device.
    for (QueuedBlock& block : queue_) {
        if (block.header->TryBeginRewrite()) {
            audio::ScalePcmVolume(block.copy.data(), block.header->data.data(),
                                  static_cast<int32_t>(block.copy.size()), format_.wBitsPerSample,
                                  volume_);
            block.header->EndRewrite();
        }
    }
}

void TWavePlayer::MeasurePeaks(const uint8_t* data, int32_t size, bool first) {
    const audio::PcmPeaks peaks = audio::MeasurePcmPeaks(data, size, BitsPerSample, Channels == 1);
    peakLeft_ = first ? peaks.left : std::max(peakLeft_, peaks.left);
    peakRight_ = first ? peaks.right : std::max(peakRight_, peaks.right);
}

double TWavePlayer::LeftLevel() const {
    return audio::PeakToDb(peakLeft_, BitsPerSample);
}

double TWavePlayer::RightLevel() const {
    return audio::PeakToDb(peakRight_, BitsPerSample);
}

audio::WaveDeviceCounters TWavePlayer::DeviceCounters() const {
    return handle_ ? handle_->Counters() : audio::WaveDeviceCounters{};
}

uint64_t TWavePlayer::PendingBytes() const {
    uint64_t bytes = 0;
    for (const QueuedBlock& block : queue_) {
        if (!block.header->IsFinished()) {
            bytes += block.header->bytesUsed;
        }
    }
    return bytes;
}

double TWavePlayer::BytesToSeconds(uint64_t bytes) const {
    return format_.nAvgBytesPerSec > 0 ? static_cast<double>(bytes) / format_.nAvgBytesPerSec : 0.0;
}

}  // namespace brivanta::client
