#include "server/WCapture.h"

#include <algorithm>
#include <exception>

#include "audio/PcmPeaks.h"

namespace brivanta::server {

TWaveCapture::TWaveCapture(audio::IWaveBackend& backend, LogEvent log)
    : backend_(backend), log_(std::move(log)) {
    RefreshDevices();
    SetQueueLength(44100);
    deviceIndex_ = devices_.empty() ? -1 : 0;
}

TWaveCapture::~TWaveCapture() {
    Stop();
}

void TWaveCapture::RefreshDevices() {
    devices_ = audio::ListUsableDevices(backend_, audio::WaveDirection::Input,
                                        audio::DeviceNameForm::Trimmed);
}

std::string TWaveCapture::DeviceName(int32_t position) const {
    if (position < 0 || position >= DeviceCount()) {
        return {};
    }
    return devices_[static_cast<size_t>(position)].name;
}

void TWaveCapture::SelectDevice(int32_t position) {
    if (position >= 0 && position < DeviceCount()) {
        deviceIndex_ = position;
    }
}

void TWaveCapture::SetQueueLength(int32_t bytes) {
    if (BlockSize > 0) {
        blockCount_ = bytes / BlockSize + 1;
    }
}

int TWaveCapture::Start() {
    if (active_ || deviceIndex_ < 0 || deviceIndex_ >= DeviceCount() || BlockSize <= 0) {
        return -1;
    }
    const int32_t deviceId = devices_[static_cast<size_t>(deviceIndex_)].id;
    const auto channels = static_cast<uint16_t>(Mono != 0 ? 1 : 2);
    const common::WaveFormatEx format = common::MakePcmFormat(
        static_cast<uint32_t>(std::max(SamplesPerSec, 0)), channels, BitsPerSample);
    if (const int query = backend_.QueryFormat(audio::WaveDirection::Input, deviceId, format);
        query != 0) {
        return query;
    }
    std::unique_ptr<audio::IWaveStream> stream;
    if (const int open = backend_.Open(audio::WaveDirection::Input, deviceId, format, stream);
        open != 0) {
        return open;
    }
    // Recording starts before any buffer is queued; the first poll queues them.
    if (const int start = stream->Start(); start != 0) {
        return start;  // the stream closes as it goes
    }
    handle_ = std::move(stream);
    queue_.clear();
    active_ = true;
    return 0;
}

int TWaveCapture::Stop() {
    if (!active_) {
        return 0;
    }
    active_ = false;
    handle_->Reset();
    queue_.clear();  // recorded data not yet delivered is dropped
    handle_.reset();
    peakLeft_ = 0;
    peakRight_ = 0;
    return 0;
}

void TWaveCapture::Poll() {
    if (busy_.exchange(true)) {
        return;
    }
    if (active_) {
        try {
            handle_->Pump();
            Deliver();
            if (active_) {
                Refill();
            }
        } catch (const std::exception& error) {
            if (log_) {
                log_(std::string("Capture poll failed: ") + error.what());
            }
        } catch (...) {
            if (log_) {
                log_("Capture poll failed");
            }
        }
    }
    busy_ = false;
}

void TWaveCapture::Deliver() {
    // Taken out first, so that a handler may even stop the capture.
    std::vector<std::unique_ptr<audio::WaveBuffer>> filled;
    for (auto it = queue_.begin(); it != queue_.end();) {
        if ((*it)->IsFinished()) {
            filled.push_back(std::move(*it));
            it = queue_.erase(it);
        } else {
            ++it;
        }
    }
    bool first = true;
    for (const std::unique_ptr<audio::WaveBuffer>& buffer : filled) {
        const auto recorded =
            static_cast<int32_t>(std::min<size_t>(buffer->bytesUsed, buffer->data.size()));
        int32_t size = recorded;
        if (OnData) {
            OnData(*this, buffer->data.data(), size);
        }
        if (!active_) {
            return;
        }
        // A handler may only shorten the block; never measure past what was recorded.
        MeasureBlock(buffer->data.data(), std::clamp(size, 0, recorded), first);
        first = false;
    }
}

void TWaveCapture::Refill() {
    // BlockSize may change while recording; it applies to the buffers queued from now on.
    while (BlockSize > 0 && static_cast<int32_t>(queue_.size()) < blockCount_) {
        queue_.push_back(std::make_unique<audio::WaveBuffer>(static_cast<size_t>(BlockSize)));
        if (handle_->AddBuffer(*queue_.back()) != 0) {
            queue_.pop_back();
            return;  // tried again at the next poll
        }
    }
}

void TWaveCapture::MeasureBlock(const uint8_t* data, int32_t size, bool first) {
    const audio::PcmPeaks peaks = audio::MeasurePcmPeaks(data, size, BitsPerSample, Mono != 0);
    if (first) {
        peakLeft_ = peaks.left;
        peakRight_ = peaks.right;
    } else {
        peakLeft_ = std::max(peakLeft_.load(), peaks.left);
        peakRight_ = std::max(peakRight_.load(), peaks.right);
    }
}

double TWaveCapture::LevelLeftDb() const {
    return audio::PeakToDb(PeakLeft(), BitsPerSample);
}

double TWaveCapture::LevelRightDb() const {
    return audio::PeakToDb(PeakRight(), BitsPerSample);
}

audio::WaveDeviceCounters TWaveCapture::DeviceCounters() const {
    return handle_ ? handle_->Counters() : audio::WaveDeviceCounters{};
}

}  // namespace brivanta::server
