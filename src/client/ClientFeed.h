#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/ACM.h"
#include "audio/PlugIns.h"
#include "client/ClientLink.h"
#include "client/RateControl.h"
#include "client/WPlayer.h"
#include "common/Clock.h"
#include "common/WaveFormat.h"

namespace brivanta::client {

// The client's audio path from decoded PCM to the player and back out to the
// linked programs: it matches the decoder and the player to the announced
// stream, opens the decoder, pre-fills silence, writes decoded audio in
// chunks and steers the queued amount towards the target level by stretching
// or shrinking chunks by whole frames.
//
// Threads: everything runs on the client's loop thread, inside the block
// reader (the decoder delivers synchronously) and inside the player poll.
class TClientFeed {
  public:
    TClientFeed(common::IClock& clock, audio::TPluginHost& plugins, IClientLink& link);

    // The player the feed writes to; null until the client has created it.
    void SetPlayer(TWavePlayer* player) { player_ = player; }

    // Sets the PCM format of decoder and player for the announced stream
    // (channels other than 1 become 2, widths other than 8 become 16). An open
    // player that changes format is reopened and loses its queue.
    void ApplyBitrate(audio::TACM& acm, int samplesPerSec, int channels, int bitsPerSample);
    // Opens a decoder for the announced format, or keeps the open one when it
    // already decodes that format; the announced driver is preferred. The
    // format opened, or null.
    const audio::TACMFormatItem* TryToStartDecoder(audio::TACM& acm,
                                                   const common::WaveFormatEx& format,
                                                   const std::string& driver);
    // Derives the four levels from the buffer setting in tenths of a second.
    void BufferToByte(int tenths) { levels_ = client::BufferToByte(tenths); }
    // Queues silence until the player holds `seconds`; ends when the player
    // cannot be opened or refuses a block.
    void PutInList(double seconds);
    // A decoder stream has opened: the rate control starts afresh.
    void ResetRateControl();
    // Plug-ins, overflow gate, chunking, rate correction and player writes for
    // one block of decoded PCM.
    void SendDataToList(const uint8_t* data, uint32_t size);
    // A played block: measures its levels for the meter (before the volume
    // when showOriginal) and sends the audio tap to the linked programs.
    void BlockPlayed(TWavePlayer& player, const uint8_t* data, int32_t size, const uint8_t* scaled,
                     bool showOriginal);

    const TBufferLevels& Levels() const { return levels_; }
    const TRateState& Rate() const { return rate_; }
    bool Overflow() const { return overflow_; }
    int64_t LastFeed() const { return lastFeed_; }
    // Chunks written resampled and bytes dropped by the overflow gate since
    // the start, for the status line and tests.
    uint64_t CorrectedChunks() const { return correctedChunks_; }
    uint64_t DroppedBytes() const { return droppedBytes_; }

  private:
    static constexpr int32_t kSilenceBlock = 4096;

    // True when the rest of the block is to be dropped.
    bool OverflowGate(double buffered);
    void WriteChunk(const uint8_t* chunk, int32_t length);

    common::IClock& clock_;
    audio::TPluginHost& plugins_;
    IClientLink& link_;
    TWavePlayer* player_ = nullptr;

    TBufferLevels levels_ = client::BufferToByte(10);
    TRateState rate_;
    bool overflow_ = false;
    int64_t lastFeed_ = 0;
    std::vector<uint8_t> pluginBlock_;  // the block as the plug-ins left it
    std::vector<uint8_t> resampled_;    // one corrected chunk
    uint64_t correctedChunks_ = 0;
    uint64_t droppedBytes_ = 0;
};

}  // namespace brivanta::client
