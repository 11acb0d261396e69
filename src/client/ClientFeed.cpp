#include "client/ClientFeed.h"

#include <algorithm>
#include <new>

namespace brivanta::client {

namespace {

bool SameStream(const audio::TACMFormatItem& item, const common::WaveFormatEx& format) {
    const common::WaveFormatEx current = item.Description();
    return current.wFormatTag == format.wFormatTag && current.nChannels == format.nChannels &&
           current.nSamplesPerSec == format.nSamplesPerSec &&
           current.nAvgBytesPerSec == format.nAvgBytesPerSec;
}

// The first candidate that opens, of those whose driver name equals `driver`
// (sameDriver) or differs from it.
const audio::TACMFormatItem* OpenFirst(audio::TACM& acm,
                                       const std::vector<const audio::TACMFormatItem*>& candidates,
                                       const std::string& driver, bool sameDriver) {
    for (const audio::TACMFormatItem* item : candidates) {
        if ((acm.DriverNameById(item->DriverId) == driver) == sameDriver && acm.Open(*item) == 0) {
            return acm.Current();
        }
    }
    return nullptr;
}

}  // namespace

TClientFeed::TClientFeed(common::IClock& clock, audio::TPluginHost& plugins, IClientLink& link)
    : clock_(clock), plugins_(plugins), link_(link) {}

void TClientFeed::ApplyBitrate(audio::TACM& acm, int samplesPerSec, int channels,
                               int bitsPerSample) {
    channels = channels == 1 ? 1 : 2;
    bitsPerSample = bitsPerSample == 8 ? 8 : 16;
    if (acm.SamplesPerSec() != samplesPerSec || acm.Channels() != channels ||
        acm.BitsPerSample() != bitsPerSample) {
        acm.SetSamplesPerSec(samplesPerSec);
        acm.SetChannels(channels);
        acm.SetBitsPerSample(bitsPerSample);
        acm.Enumerate();
        if (acm.Active()) {
            acm.Close();
        }
        acm.SetSamplesPerSec(samplesPerSec);
        acm.SetChannels(channels);
        acm.SetBitsPerSample(bitsPerSample);
    }
    if (player_ == nullptr) {
        return;
    }
    if (player_->SamplesPerSec != samplesPerSec || player_->Channels != channels ||
        player_->BitsPerSample != bitsPerSample) {
        player_->SamplesPerSec = samplesPerSec;
        player_->Channels = static_cast<uint8_t>(channels);
        player_->BitsPerSample = static_cast<uint8_t>(bitsPerSample);
        if (player_->Active()) {
            player_->Close();
            player_->Open();
        }
    }
}

const audio::TACMFormatItem* TClientFeed::TryToStartDecoder(audio::TACM& acm,
                                                            const common::WaveFormatEx& format,
                                                            const std::string& driver) {
    if (acm.Active() && acm.Current() != nullptr && SameStream(*acm.Current(), format)) {
        return acm.Current();  // a reconnect to the same stream keeps decoding undisturbed
    }
    if (acm.Active()) {
        acm.Close();
    }
    const auto candidates = acm.FindFormats(format);
    for (const bool ownDriver : {true, false}) {
        acm.OpenDriver = ownDriver;
        for (const bool sameDriver : {true, false}) {
            if (const auto* opened = OpenFirst(acm, candidates, driver, sameDriver)) {
                return opened;
            }
        }
    }
    return nullptr;
}

void TClientFeed::PutInList(double seconds) {
    if (player_ == nullptr) {
        return;
    }
    if (!player_->Active() && player_->Open() != 0) {
        return;
    }
    const std::vector<uint8_t> silence(kSilenceBlock, player_->BitsPerSample == 8 ? 128 : 0);
    while (player_->Buffered() < seconds) {
        if (!player_->Write(silence.data(), kSilenceBlock)) {
            return;  // a refused block would never raise the level
        }
    }
}

void TClientFeed::ResetRateControl() {
    rate_ = TRateState{};
    overflow_ = false;
    lastFeed_ = clock_.NowMs();
}

bool TClientFeed::OverflowGate(double buffered) {
    if (buffered > levels_.Overflow) {
        rate_ = TRateState{};
        overflow_ = true;
        return true;
    }
    if (buffered > levels_.Target + 0.1 && overflow_) {
        return true;
    }
    overflow_ = false;
    return false;
}

void TClientFeed::WriteChunk(const uint8_t* chunk, int32_t length) {
    const int channels = player_->Channels;
    const int bits = player_->BitsPerSample;
    if (rate_.Correction != 0) {
        const int32_t outLength = CorrectedLength(length, rate_.Correction, channels, bits);
        if (outLength > 0) {
            try {
                resampled_.resize(static_cast<size_t>(outLength));
                const bool done =
                    bits == 16
                        ? BufferCombinize16(resampled_.data(), chunk, length, outLength, channels)
                        : BufferCombinize8(resampled_.data(), chunk, length, outLength, channels);
                if (done) {
                    ++correctedChunks_;
                    player_->Write(resampled_.data(), outLength);
                    return;
                }
            } catch (const std::bad_alloc&) {  // written unchanged below
            }
        }
    }
    player_->Write(chunk, length);
}

void TClientFeed::SendDataToList(const uint8_t* data, uint32_t size) {
    if (player_ == nullptr || data == nullptr) {
        return;
    }
    if (lastFeed_ == 0) {
        lastFeed_ = clock_.NowMs();
    }
    const uint8_t* block = data;
    if (player_->BitsPerSample == 16) {
        pluginBlock_.assign(data, data + size);
        plugins_.ProcessPlugins(pluginBlock_.data(), size);
        block = pluginBlock_.data();
    }
    uint32_t offset = 0;
    while (offset < size) {
        if (OverflowGate(player_->Buffered())) {
            droppedBytes_ += size - offset;
            break;
        }
        const int32_t length = ChunkLength(static_cast<int32_t>(size - offset));
        WriteChunk(block + offset, length);
        offset += static_cast<uint32_t>(length);
    }
    const int64_t now = clock_.NowMs();
    const int64_t dt = now - lastFeed_;
    lastFeed_ = now;
    StepCorrection(rate_, player_->Buffered(), dt, levels_);
}

void TClientFeed::BlockPlayed(TWavePlayer& player, const uint8_t* data, int32_t size,
                              const uint8_t* scaled, bool showOriginal) {
    player.MeasurePeaks(data, size, true);
    const double left = player.LeftLevel();
    const double right = player.RightLevel();
    if (!showOriginal) {
        player.MeasurePeaks(scaled, size, true);
    }
    if (link_.HasPeers()) {
        const auto tap = BuildAudioTap(player.SamplesPerSec, player.Channels, player.BitsPerSample,
                                       left, right, data, size);
        link_.BroadcastData(0, 0, tap.data(), tap.size());
    }
}

}  // namespace brivanta::client
