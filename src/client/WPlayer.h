#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/DeviceList.h"
#include "audio/WaveDevice.h"

namespace brivanta::client {

// Plays PCM through one output device: every written block becomes one
// device buffer, scaled by the volume on the way in; each played block is
// reported at the next poll; Buffered tells how many seconds are queued.
//
// Threads: the device's audio thread only plays the buffers it was given and
// marks them finished. Everything else, including every call here and the
// OnBlockPlayed event, runs on the owner's thread.
class TWavePlayer {
  public:
    // A played block: as written, its size in bytes, and as played (scaled).
    using BlockPlayedEvent = std::function<void(TWavePlayer& sender, const uint8_t* data,
                                                int32_t size, const uint8_t* played)>;

    // Lists the devices (names trimmed) and selects the first; the back end
    // must outlive the player.
    explicit TWavePlayer(audio::IWaveBackend& backend);
    // Closes the device if its owner has not.
    ~TWavePlayer();
    TWavePlayer(const TWavePlayer&) = delete;
    TWavePlayer& operator=(const TWavePlayer&) = delete;

    // The PCM format of the next Open; an open player keeps the one it was
    // opened with for its queued blocks, their volume and Buffered.
    int32_t SamplesPerSec = 44100;
    uint8_t BitsPerSample = 16;
    uint8_t Channels = 2;
    BlockPlayedEvent OnBlockPlayed;

    // Lists again with the names as the devices report them (untrimmed);
    // CurrentDevice keeps its value.
    void RefreshDevices();
    int32_t DeviceCount() const { return static_cast<int32_t>(devices_.size()); }
    std::string DeviceName(int32_t index) const;
    int32_t CurrentDevice() const { return currentDevice_; }
    void SelectDevice(int32_t index);
    bool SelectByName(const std::string& name);
    int32_t IndexOfDevice(const std::string& name) const;

    // 0 or the device's result code; -1 without a selected device or when open.
    int Open();
    // Stops playback and drops every queued block without reporting it.
    void Close();
    // Queues one block as one device buffer; false when closed, empty or refused.
    bool Write(const uint8_t* data, int32_t size);
    // Reports the finished blocks and recomputes Buffered.
    void Poll();

    void SetVolume(int32_t value);
    int32_t Volume() const { return volume_; }
    void MeasurePeaks(const uint8_t* data, int32_t size, bool first);
    double LeftLevel() const;
    double RightLevel() const;

    bool Active() const { return active_; }
    double Buffered() const { return buffered_; }
    int16_t PeakLeft() const { return peakLeft_; }
    int16_t PeakRight() const { return peakRight_; }
    int32_t QueuedBlocks() const { return static_cast<int32_t>(queue_.size()); }
    // Problems the open device has seen; zeros while closed.
    audio::WaveDeviceCounters DeviceCounters() const;

  private:
    // A queued block: the device buffer (scaled) and the block as written.
    struct QueuedBlock {
        std::unique_ptr<audio::WaveBuffer> header;
        std::vector<uint8_t> copy;
    };

    void ListDevices(audio::DeviceNameForm form);
    double BytesToSeconds(uint64_t bytes) const;
    uint64_t PendingBytes() const;
    void ReportPlayed(QueuedBlock& block, bool first);

    audio::IWaveBackend& backend_;
    std::vector<audio::WaveDeviceEntry> devices_;
    int32_t currentDevice_ = -1;
    bool active_ = false;
    double buffered_ = 0.0;
    std::unique_ptr<audio::IWaveStream> handle_;
    common::WaveFormatEx format_;    // as opened: the format of the queued blocks
    std::deque<QueuedBlock> queue_;  // Headers and Copies, index-aligned by construction
    int16_t peakLeft_ = 0;
    int16_t peakRight_ = 0;
    int32_t volume_ = 100;
};

}  // namespace brivanta::client
