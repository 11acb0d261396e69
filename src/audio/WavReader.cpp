#include "audio/WavReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace brivanta::audio {
namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagExtensible = 0xFFFE;

uint32_t Le32(const uint8_t* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

uint16_t Le16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

// The top 16 bits of one little-endian integer sample.
int16_t ToSample16(const uint8_t* at, int bytesPerSample) {
    if (bytesPerSample == 1) {
        return static_cast<int16_t>((at[0] - 128) * 256);
    }
    const uint8_t* top = at + bytesPerSample - 2;
    return static_cast<int16_t>(Le16(top));
}

}  // namespace

bool WavReader::Open(const std::string& path, std::string& error) {
    file_.reset(std::fopen(path.c_str(), "rb"));
    if (!file_) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t riff[12];
    if (std::fread(riff, 1, sizeof riff, file_.get()) != sizeof riff ||
        std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
        error = path + " is not a WAV file";
        return false;
    }
    bool haveFormat = false;
    uint8_t chunk[8];
    while (std::fread(chunk, 1, sizeof chunk, file_.get()) == sizeof chunk) {
        const uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (!ReadFormat(size, error)) {
                error = path + ": " + error;
                return false;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                error = path + ": sample data before the format";
                return false;
            }
            // A size of 0 or all ones is left by writers that stream: read to the end.
            dataLeft_ = (size == 0 || size == 0xFFFFFFFFu) ? UINT64_MAX : size;
            return true;
        } else if (std::fseek(file_.get(), static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
            break;
        }
    }
    error = path + ": no sample data";
    return false;
}

bool WavReader::ReadFormat(uint32_t chunkSize, std::string& error) {
    uint8_t format[40] = {};
    if (chunkSize < 16 || chunkSize > 4096) {
        error = "bad format chunk";
        return false;
    }
    const size_t wanted = std::min<size_t>(chunkSize, sizeof format);
    if (std::fread(format, 1, wanted, file_.get()) != wanted ||
        std::fseek(file_.get(), static_cast<long>(chunkSize - wanted + (chunkSize & 1)),
                   SEEK_CUR) != 0) {
        error = "truncated format chunk";
        return false;
    }
    uint16_t tag = Le16(format);
    if (tag == kTagExtensible && chunkSize >= 40) {
        tag = Le16(format + 24);  // the sub-format's first two bytes
    }
    channels_ = Le16(format + 2);
    sampleRate_ = Le32(format + 4);
    const uint16_t blockAlign = Le16(format + 12);
    bitsPerSample_ = Le16(format + 14);
    const bool knownBits =
        bitsPerSample_ == 8 || bitsPerSample_ == 16 || bitsPerSample_ == 24 || bitsPerSample_ == 32;
    if (tag != kTagPcm || !knownBits || channels_ < 1 || channels_ > 16 || sampleRate_ < 1000 ||
        sampleRate_ > 768000 || blockAlign != channels_ * bitsPerSample_ / 8) {
        error = "not integer PCM audio";
        return false;
    }
    return true;
}

size_t WavReader::ReadFrames(int16_t* out, size_t maxFrames) {
    if (!file_ || channels_ == 0) {
        return 0;
    }
    const size_t bytesPerSample = bitsPerSample_ / 8;
    const size_t frameBytes = bytesPerSample * channels_;
    const size_t wantedBytes = std::min<uint64_t>(dataLeft_, maxFrames * frameBytes);
    raw_.resize(wantedBytes);
    const size_t readBytes = std::fread(raw_.data(), 1, wantedBytes, file_.get());
    const size_t frames = readBytes / frameBytes;
    dataLeft_ = readBytes < wantedBytes ? 0 : dataLeft_ - readBytes;
    for (size_t i = 0; i < frames * channels_; ++i) {
        out[i] = ToSample16(raw_.data() + i * bytesPerSample, static_cast<int>(bytesPerSample));
    }
    return frames;
}

}  // namespace brivanta::audio
