#include "audio/VirtualStreams.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace brivanta::audio {
namespace {

// Frames rendered at once, which bounds the scratch memory.
constexpr int64_t kChunkFrames = 4096;

size_t FrameBytes(const common::WaveFormatEx& format) {
    return format.nBlockAlign;
}

size_t BufferBytes(const WaveBuffer& buffer) {
    return std::min<size_t>(buffer.bytesUsed, buffer.data.size());
}

}  // namespace

DevicePacer::DevicePacer(common::IClock& clock, uint32_t sampleRate, double skewPpm)
    : clock_(clock), sampleRate_(sampleRate), skewScale_(1.0e6L + skewPpm) {}

int64_t DevicePacer::FramesDue() const {
    const int64_t elapsedMs = std::max<int64_t>(0, clock_.NowMs() - startMs_);
    // Divided last, so that whole results come out exact.
    return static_cast<int64_t>(
        std::floor(static_cast<long double>(elapsedMs) * sampleRate_ * skewScale_ / 1.0e9L));
}

VirtualInputStream::VirtualInputStream(common::IClock& clock, const common::WaveFormatEx& format,
                                       double skewPpm, std::unique_ptr<IVirtualSource> source)
    : format_(format), pacer_(clock, format.nSamplesPerSec, skewPpm), source_(std::move(source)) {}

int VirtualInputStream::Start() {
    pacer_.Restart();
    framesHandled_ = 0;
    started_ = true;
    return 0;
}

int VirtualInputStream::AddBuffer(WaveBuffer& buffer) {
    // Time that passed with no buffer queued is lost before this one is used.
    Advance();
    buffer.bytesUsed = 0;
    queue_.push_back(&buffer);
    everQueued_ = true;
    return 0;
}

int VirtualInputStream::Reset() {
    started_ = false;
    queue_.clear();
    fill_ = 0;
    return 0;
}

void VirtualInputStream::Advance() {
    if (!started_) {
        return;
    }
    const size_t frameBytes = FrameBytes(format_);
    int64_t pending = pacer_.FramesDue() - framesHandled_;
    while (pending > 0) {
        if (queue_.empty()) {
            if (everQueued_ && !overrunning_) {
                ++counters_.overruns;
            }
            overrunning_ = true;
            Drop(pending);
            return;
        }
        overrunning_ = false;
        WaveBuffer& buffer = *queue_.front();
        buffer.TryClaim();
        const int64_t room = static_cast<int64_t>((buffer.data.size() - fill_) / frameBytes);
        const int64_t frames = std::min(pending, room);
        Record(buffer, frames);
        pending -= frames;
        if (buffer.data.size() - fill_ < frameBytes) {
            buffer.bytesUsed = static_cast<uint32_t>(fill_);
            buffer.MarkFinished();
            queue_.pop_front();
            fill_ = 0;
        }
    }
}

void VirtualInputStream::Render(int64_t frames) {
    scratch_.resize(static_cast<size_t>(frames) * format_.nChannels);
    source_->Render(scratch_.data(), static_cast<size_t>(frames));
}

void VirtualInputStream::Record(WaveBuffer& buffer, int64_t frames) {
    for (int64_t done = 0; done < frames;) {
        const int64_t chunk = std::min(kChunkFrames, frames - done);
        Render(chunk);
        uint8_t* out = buffer.data.data() + fill_;
        if (format_.wBitsPerSample == 8) {
            for (size_t i = 0; i < scratch_.size(); ++i) {
                out[i] = static_cast<uint8_t>((scratch_[i] >> 8) + 128);
            }
        } else {
            std::memcpy(out, scratch_.data(), scratch_.size() * sizeof(int16_t));
        }
        fill_ += static_cast<size_t>(chunk) * FrameBytes(format_);
        done += chunk;
    }
    framesHandled_ += frames;
}

void VirtualInputStream::Drop(int64_t frames) {
    source_->Skip(static_cast<size_t>(frames));
    framesHandled_ += frames;
}

VirtualOutputStream::VirtualOutputStream(common::IClock& clock, const common::WaveFormatEx& format,
                                         double skewPpm, std::unique_ptr<WavWriter> writer,
                                         std::atomic<bool>* inUse, DeviceLog log)
    : format_(format),
      pacer_(clock, format.nSamplesPerSec, skewPpm),
      writer_(std::move(writer)),
      inUse_(inUse),
      log_(std::move(log)) {}

VirtualOutputStream::~VirtualOutputStream() {
    if (inUse_ != nullptr) {
        inUse_->store(false);
    }
}

int VirtualOutputStream::Start() {
    pacer_.Restart();
    framesHandled_ = 0;
    started_ = true;
    return 0;
}

int VirtualOutputStream::AddBuffer(WaveBuffer& buffer) {
    // An output that ran dry starts the new block now, not in the past.
    Advance();
    queue_.push_back(&buffer);
    return 0;
}

int VirtualOutputStream::Reset() {
    started_ = false;
    playing_ = false;
    queue_.clear();
    position_ = 0;
    return 0;
}

void VirtualOutputStream::Advance() {
    if (!started_) {
        return;
    }
    const int64_t due = pacer_.FramesDue();
    while (framesHandled_ < due) {
        if (queue_.empty()) {
            if (playing_) {
                ++counters_.underruns;
            }
            playing_ = false;
            framesHandled_ = due;
            return;
        }
        WaveBuffer& buffer = *queue_.front();
        if (!buffer.TryClaim()) {
            return;  // being rewritten by its owner; played at the next pump
        }
        framesHandled_ += Play(buffer, due - framesHandled_);
        if (BufferBytes(buffer) - position_ < FrameBytes(format_)) {
            buffer.MarkFinished();
            queue_.pop_front();
            position_ = 0;
        }
    }
}

int64_t VirtualOutputStream::Play(WaveBuffer& buffer, int64_t frames) {
    const size_t frameBytes = FrameBytes(format_);
    const int64_t available = static_cast<int64_t>((BufferBytes(buffer) - position_) / frameBytes);
    const int64_t played = std::min(frames, available);
    if (played > 0) {
        playing_ = true;
        Write(buffer.data.data() + position_, static_cast<size_t>(played) * frameBytes);
        position_ += static_cast<size_t>(played) * frameBytes;
    }
    return played;
}

void VirtualOutputStream::Write(const uint8_t* data, size_t bytes) {
    if (!writer_) {
        return;
    }
    if (format_.wBitsPerSample == 8) {
        scratch_.resize(bytes);
        for (size_t i = 0; i < bytes; ++i) {
            scratch_[i] = static_cast<int16_t>((data[i] - 128) * 256);
        }
    } else {
        scratch_.resize(bytes / 2);
        std::memcpy(scratch_.data(), data, scratch_.size() * sizeof(int16_t));
    }
    if (!writer_->Append(scratch_.data(), scratch_.size())) {
        if (log_) {
            log_("Virtual WAV output: cannot write the file any more; the rest is discarded");
        }
        writer_.reset();
    }
}

}  // namespace brivanta::audio
