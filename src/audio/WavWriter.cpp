#include "audio/WavWriter.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace brivanta::audio {
namespace {

constexpr long kRiffSizeOffset = 4;
constexpr long kDataSizeOffset = 40;
constexpr uint32_t kHeaderBytes = 44;
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - kHeaderBytes;

void Put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
    Put16(at, value);
    Put16(at + 2, value >> 16);
}

}  // namespace

bool WavWriter::Create(const std::string& path, uint32_t sampleRate, int channels,
                       std::string& error) {
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (!file_) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    dataBytes_ = 0;
    const uint32_t blockAlign = static_cast<uint32_t>(channels) * 2;
    uint8_t header[kHeaderBytes];
    std::memcpy(header, "RIFF", 4);
    Put32(header + 4, kHeaderBytes - 8);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    Put32(header + 16, 16);
    Put16(header + 20, 1);
    Put16(header + 22, static_cast<uint32_t>(channels));
    Put32(header + 24, sampleRate);
    Put32(header + 28, sampleRate * blockAlign);
    Put16(header + 32, blockAlign);
    Put16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    Put32(header + 40, 0);
    if (std::fwrite(header, 1, sizeof header, file_.get()) != sizeof header ||
        std::fflush(file_.get()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        file_.reset();
        return false;
    }
    return true;
}

bool WavWriter::Append(const int16_t* samples, size_t sampleCount) {
    const uint64_t bytes = sampleCount * 2;
    if (!file_ || dataBytes_ + bytes > kMaxDataBytes) {
        return false;
    }
    std::vector<uint8_t> raw(bytes);
    for (size_t i = 0; i < sampleCount; ++i) {
        Put16(raw.data() + 2 * i, static_cast<uint16_t>(samples[i]));
    }
    if (std::fwrite(raw.data(), 1, raw.size(), file_.get()) != raw.size()) {
        return false;
    }
    dataBytes_ += bytes;
    return WriteSizes();
}

bool WavWriter::WriteSizes() {
    uint8_t size[4];
    std::FILE* file = file_.get();
    Put32(size, static_cast<uint32_t>(dataBytes_ + kHeaderBytes - 8));
    bool ok =
        std::fseek(file, kRiffSizeOffset, SEEK_SET) == 0 && std::fwrite(size, 1, 4, file) == 4;
    Put32(size, static_cast<uint32_t>(dataBytes_));
    ok = ok && std::fseek(file, kDataSizeOffset, SEEK_SET) == 0 &&
         std::fwrite(size, 1, 4, file) == 4;
    ok = ok && std::fseek(file, 0, SEEK_END) == 0 && std::fflush(file) == 0;
    return ok;
}

}  // namespace brivanta::audio
