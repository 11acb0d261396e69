#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace brivanta::audio {

// Reads the samples of a PCM WAV file (8, 16, 24 or 32-bit integer samples,
// plain or extensible header) as 16-bit samples, front to back.
// Not thread-safe; one owner.
class WavReader {
  public:
    // Opens and checks the file; false with a reason in error.
    bool Open(const std::string& path, std::string& error);

    int Channels() const { return channels_; }
    uint32_t SampleRate() const { return sampleRate_; }
    int BitsPerSample() const { return bitsPerSample_; }

    // Reads up to maxFrames frames into out (Channels() samples each); the
    // number read, 0 at the end of the data.
    size_t ReadFrames(int16_t* out, size_t maxFrames);
    // No sample data is left.
    bool AtEnd() const { return dataLeft_ == 0; }

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    bool ReadFormat(uint32_t chunkSize, std::string& error);

    std::unique_ptr<std::FILE, FileCloser> file_;
    int channels_ = 0;
    uint32_t sampleRate_ = 0;
    int bitsPerSample_ = 0;
    uint64_t dataLeft_ = 0;  // bytes of sample data not yet read
    std::vector<uint8_t> raw_;
};

}  // namespace brivanta::audio
