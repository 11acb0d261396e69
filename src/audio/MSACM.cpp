#include "audio/MSACM.h"

namespace brivanta::audio::msacm {
namespace {

void PutU16(FormatBytes& out, size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(FormatBytes& out, size_t at, uint32_t value) {
    PutU16(out, at, static_cast<uint16_t>(value & 0xFFFF));
    PutU16(out, at + 2, static_cast<uint16_t>(value >> 16));
}

uint16_t GetU16(const uint8_t* in) {
    return static_cast<uint16_t>(in[0] | (in[1] << 8));
}

uint32_t GetU32(const uint8_t* in) {
    return GetU16(in) | (uint32_t{GetU16(in + 2)} << 16);
}

}  // namespace

FormatBytes EncodeFormat(const common::WaveFormatEx& format, const std::vector<uint8_t>& extra) {
    FormatBytes out(common::kWaveFormatExSize + extra.size());
    PutU16(out, 0, format.wFormatTag);
    PutU16(out, 2, format.nChannels);
    PutU32(out, 4, format.nSamplesPerSec);
    PutU32(out, 8, format.nAvgBytesPerSec);
    PutU16(out, 12, format.nBlockAlign);
    PutU16(out, 14, format.wBitsPerSample);
    PutU16(out, 16, format.cbSize);
    for (size_t i = 0; i < extra.size(); ++i) {
        out[common::kWaveFormatExSize + i] = extra[i];
    }
    return out;
}

bool DecodeFormat(const uint8_t* bytes, size_t size, common::WaveFormatEx& format) {
    if (bytes == nullptr || size < static_cast<size_t>(common::kWaveFormatExSize)) {
        return false;
    }
    format.wFormatTag = GetU16(bytes);
    format.nChannels = GetU16(bytes + 2);
    format.nSamplesPerSec = GetU32(bytes + 4);
    format.nAvgBytesPerSec = GetU32(bytes + 8);
    format.nBlockAlign = GetU16(bytes + 12);
    format.wBitsPerSample = GetU16(bytes + 14);
    format.cbSize = GetU16(bytes + 16);
    return true;
}

}  // namespace brivanta::audio::msacm
