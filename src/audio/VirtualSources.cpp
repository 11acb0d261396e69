#include "audio/VirtualSources.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace brivanta::audio {
namespace {

class ToneSource final : public IVirtualSource {
  public:
    ToneSource(uint32_t sampleRate, int channels)
        : sampleRate_(sampleRate),
          channels_(channels),
          amplitude_(32768.0 * std::pow(10.0, kVirtualToneDbfs / 20.0)) {}

    void Render(int16_t* out, size_t frames) override {
        for (size_t f = 0; f < frames; ++f) {
            // The phase repeats every second, so counting modulo the rate keeps it exact.
            const double phase = 2.0 * std::numbers::pi * kVirtualToneHz *
                                 static_cast<double>(frameIndex_) / sampleRate_;
            const auto sample = static_cast<int16_t>(std::lround(amplitude_ * std::sin(phase)));
            std::fill_n(out + f * channels_, channels_, sample);
            frameIndex_ = (frameIndex_ + 1) % sampleRate_;
        }
    }

    void Skip(size_t frames) override {
        frameIndex_ = static_cast<uint32_t>((frameIndex_ + frames % sampleRate_) % sampleRate_);
    }

  private:
    const uint32_t sampleRate_;
    const int channels_;
    const double amplitude_;
    uint32_t frameIndex_ = 0;
};

class SilenceSource final : public IVirtualSource {
  public:
    explicit SilenceSource(int channels) : channels_(channels) {}
    void Render(int16_t* out, size_t frames) override { std::fill_n(out, frames * channels_, 0); }
    void Skip(size_t) override {}

  private:
    const int channels_;
};

// Reads the file frame by frame and interpolates between the two file frames
// around each output instant; the position between them is kept as a
// fraction of the output rate, so equal rates copy the file exactly.
class WavFileSource final : public IVirtualSource {
  public:
    WavFileSource(std::unique_ptr<WavReader> reader, uint32_t sampleRate, int channels)
        : reader_(std::move(reader)),
          fileRate_(reader_->SampleRate()),
          outRate_(sampleRate),
          channels_(channels),
          previous_(channels),
          next_(channels) {
        ReadFrame(previous_);
        ReadFrame(next_);
    }

    void Render(int16_t* out, size_t frames) override {
        for (size_t f = 0; f < frames; ++f) {
            for (int c = 0; c < channels_; ++c) {
                const int64_t a = previous_[c];
                const int64_t b = next_[c];
                out[f * channels_ + c] =
                    static_cast<int16_t>(a + (b - a) * static_cast<int64_t>(fraction_) / outRate_);
            }
            fraction_ += fileRate_;
            while (fraction_ >= outRate_) {
                fraction_ -= outRate_;
                previous_.swap(next_);
                ReadFrame(next_);
            }
        }
    }

    void Skip(size_t frames) override {
        // Once the file has ended there is nothing left to skip.
        for (size_t done = 0; done < frames && !Finished(); done += skipped_.size() / channels_) {
            skipped_.resize(std::min<size_t>(frames - done, 4096) * channels_);
            Render(skipped_.data(), skipped_.size() / channels_);
        }
    }

  private:
    bool Finished() const {
        return std::all_of(previous_.begin(), previous_.end(), [](int16_t s) { return s == 0; }) &&
               std::all_of(next_.begin(), next_.end(), [](int16_t s) { return s == 0; }) &&
               reader_->AtEnd();
    }

    // One file frame mapped to the stream's channels; silence after the end.
    void ReadFrame(std::vector<int16_t>& frame) {
        const int fileChannels = reader_->Channels();
        fileFrame_.resize(fileChannels);
        if (reader_->ReadFrames(fileFrame_.data(), 1) != 1) {
            std::fill(frame.begin(), frame.end(), 0);
            return;
        }
        if (channels_ == 1 && fileChannels >= 2) {
            frame[0] = static_cast<int16_t>((fileFrame_[0] + fileFrame_[1]) / 2);
            return;
        }
        for (int c = 0; c < channels_; ++c) {
            frame[c] = fileFrame_[std::min(c, fileChannels - 1)];
        }
    }

    std::unique_ptr<WavReader> reader_;
    const uint32_t fileRate_;
    const uint32_t outRate_;
    const int channels_;
    uint32_t fraction_ = 0;  // position past previous_, in 1/outRate_ of a file frame
    std::vector<int16_t> previous_;
    std::vector<int16_t> next_;
    std::vector<int16_t> fileFrame_;
    std::vector<int16_t> skipped_;
};

}  // namespace

std::unique_ptr<IVirtualSource> MakeToneSource(uint32_t sampleRate, int channels) {
    return std::make_unique<ToneSource>(sampleRate, channels);
}

std::unique_ptr<IVirtualSource> MakeSilenceSource(int channels) {
    return std::make_unique<SilenceSource>(channels);
}

std::unique_ptr<IVirtualSource> MakeWavFileSource(std::unique_ptr<WavReader> reader,
                                                  uint32_t sampleRate, int channels) {
    return std::make_unique<WavFileSource>(std::move(reader), sampleRate, channels);
}

}  // namespace brivanta::audio
