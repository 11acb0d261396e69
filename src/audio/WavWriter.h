#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace brivanta::audio {

// Writes a 16-bit PCM WAV file whose header is valid after every Append, so
// that the file can be read at any moment while it grows. Not thread-safe.
class WavWriter {
  public:
    // Creates (or empties) the file; false with a reason in error.
    bool Create(const std::string& path, uint32_t sampleRate, int channels, std::string& error);

    // Appends interleaved samples and updates the header; false when the file
    // cannot take them (write error, or the 4 GiB limit of the format).
    bool Append(const int16_t* samples, size_t sampleCount);

    uint64_t DataBytes() const { return dataBytes_; }

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    bool WriteSizes();

    std::unique_ptr<std::FILE, FileCloser> file_;
    uint64_t dataBytes_ = 0;
};

}  // namespace brivanta::audio
