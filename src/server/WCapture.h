#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/DeviceList.h"
#include "audio/WaveDevice.h"

namespace brivanta::server {

// Records PCM from one input device and hands each filled buffer to its
// owner, in recording order, when polled. Keeps BlockCount buffers queued at
// the device, measures each delivered block's peaks and lists the usable
// recording devices (44.1 kHz 16-bit stereo capable, names trimmed and cut at
// 32 characters).
//
// Threads: the device's audio thread only fills the buffers it was given and
// marks them finished. The capture thread calls Poll, so OnData runs there.
// The main thread calls Start, Stop, RefreshDevices and the setters, only
// while the capture thread is between two polls (its owner makes sure of
// that). PeakLeft, PeakRight and Busy may be read from any thread.
class TWaveCapture {
  public:
    // A filled block: the handler may lower size (never below 0); the peaks
    // are then measured over what it left.
    using DataEvent = std::function<void(TWaveCapture& sender, uint8_t* data, int32_t& size)>;
    using LogEvent = std::function<void(const std::string&)>;

    // Lists the devices; the back end must outlive the capture.
    explicit TWaveCapture(audio::IWaveBackend& backend, LogEvent log = {});
    // Stops the capture if its owner has not.
    ~TWaveCapture();
    TWaveCapture(const TWaveCapture&) = delete;
    TWaveCapture& operator=(const TWaveCapture&) = delete;

    // Settings the owner makes before Start.
    DataEvent OnData;
    int32_t SamplesPerSec = 44100;
    uint8_t BitsPerSample = 16;
    int32_t BlockSize = 4096;  // bytes per capture buffer
    uint8_t Mono = 0;          // 1 = record one channel

    void RefreshDevices();
    int32_t DeviceCount() const { return static_cast<int32_t>(devices_.size()); }
    std::string DeviceName(int32_t position) const;
    // A position outside the list is ignored.
    void SelectDevice(int32_t position);
    int32_t DeviceIndex() const { return deviceIndex_; }
    // BlockCount = bytes div BlockSize + 1 (ignored while BlockSize is not positive).
    void SetQueueLength(int32_t bytes);
    int32_t BlockCount() const { return blockCount_; }

    // 0, -1 without a usable device or when already active, else the
    // device's result code; on failure the device stays closed.
    int Start();
    // Discards what was recorded and not yet delivered; always 0.
    int Stop();
    // Delivers the filled buffers through OnData and refills the queue.
    void Poll();

    bool Active() const { return active_; }
    bool Busy() const { return busy_.load(); }
    int32_t QueueLength() const { return static_cast<int32_t>(queue_.size()); }
    int16_t PeakLeft() const { return peakLeft_.load(std::memory_order_relaxed); }
    int16_t PeakRight() const { return peakRight_.load(std::memory_order_relaxed); }
    double LevelLeftDb() const;
    double LevelRightDb() const;
    // Problems the open device has seen; zeros while inactive.
    audio::WaveDeviceCounters DeviceCounters() const;

  private:
    void Deliver();
    void Refill();
    void MeasureBlock(const uint8_t* data, int32_t size, bool first);

    audio::IWaveBackend& backend_;
    const LogEvent log_;
    std::vector<audio::WaveDeviceEntry> devices_;
    int32_t deviceIndex_ = -1;
    int32_t blockCount_ = 0;
    std::unique_ptr<audio::IWaveStream> handle_;
    std::deque<std::unique_ptr<audio::WaveBuffer>> queue_;  // in the order handed over
    std::atomic<bool> busy_{false};
    std::atomic<bool> active_{false};
    std::atomic<int16_t> peakLeft_{0};
    std::atomic<int16_t> peakRight_{0};
};

}  // namespace brivanta::server
