#include "protocol/AudioProtocol.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace brivanta::protocol {

void PutU16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(Bytes& out, uint32_t value) {
    PutU16(out, static_cast<uint16_t>(value & 0xFFFF));
    PutU16(out, static_cast<uint16_t>(value >> 16));
}

uint16_t GetU16(ByteView in, size_t offset) {
    return static_cast<uint16_t>(in[offset] | (in[offset + 1] << 8));
}

uint32_t GetU32(ByteView in, size_t offset) {
    return GetU16(in, offset) | (static_cast<uint32_t>(GetU16(in, offset + 2)) << 16);
}

void EncodeHello(const TStreamHello& hello, Bytes& out) {
    out.insert(out.end(), hello.magic.begin(), hello.magic.end());
    out.push_back(hello.kind);
    out.push_back(hello.version);
    out.push_back(hello.reserved);
    out.push_back(hello.extra);
}

std::optional<TStreamHello> DecodeHello(ByteView in) {
    if (in.size() < kStreamHelloSize) {
        return std::nullopt;
    }
    TStreamHello hello;
    std::memcpy(hello.magic.data(), in.data(), hello.magic.size());
    hello.kind = in[8];
    hello.version = in[9];
    hello.reserved = in[10];
    hello.extra = in[11];
    return hello;
}

void EncodeServerTime(double utcDays, Bytes& out) {
    const auto bits = std::bit_cast<uint64_t>(utcDays);
    PutU32(out, static_cast<uint32_t>(bits & 0xFFFFFFFFu));
    PutU32(out, static_cast<uint32_t>(bits >> 32));
}

std::optional<double> DecodeServerTime(ByteView in) {
    if (in.size() < kServerTimeSize) {
        return std::nullopt;
    }
    const uint64_t bits = GetU32(in, 0) | (static_cast<uint64_t>(GetU32(in, 4)) << 32);
    return std::bit_cast<double>(bits);
}

void EncodeWaveFormat(const common::WaveFormatEx& format, Bytes& out) {
    PutU16(out, format.wFormatTag);
    PutU16(out, format.nChannels);
    PutU32(out, format.nSamplesPerSec);
    PutU32(out, format.nAvgBytesPerSec);
    PutU16(out, format.nBlockAlign);
    PutU16(out, format.wBitsPerSample);
    PutU16(out, format.cbSize);
}

std::optional<common::WaveFormatEx> DecodeWaveFormat(ByteView in) {
    if (in.size() < common::kWaveFormatExSize) {
        return std::nullopt;
    }
    common::WaveFormatEx format;
    format.wFormatTag = GetU16(in, 0);
    format.nChannels = GetU16(in, 2);
    format.nSamplesPerSec = GetU32(in, 4);
    format.nAvgBytesPerSec = GetU32(in, 8);
    format.nBlockAlign = GetU16(in, 12);
    format.wBitsPerSample = GetU16(in, 14);
    format.cbSize = GetU16(in, 16);
    return format;
}

void EncodeShortString(const std::string& text, Bytes& out) {
    const size_t length = std::min(text.size(), kShortStringMax);
    out.push_back(static_cast<uint8_t>(length));
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
}

void EncodeStreamParams(const TStreamParams& params, Bytes& out) {
    out.push_back(kWaveHeaderSize);
    EncodeWaveFormat(params.format, out);
    EncodeShortString(params.driverName, out);
    EncodeShortString(params.formatName, out);
}

namespace {

// Reads one short string at `offset`, moving `offset` past it.
std::optional<std::string> DecodeShortString(ByteView in, size_t& offset) {
    if (offset >= in.size()) {
        return std::nullopt;
    }
    const size_t length = in[offset];
    if (in.size() - offset - 1 < length) {
        return std::nullopt;
    }
    const auto* text = reinterpret_cast<const char*>(in.data() + offset + 1);
    offset += 1 + length;
    return std::string(text, length);
}

}  // namespace

std::optional<TStreamParams> DecodeStreamParams(ByteView in, size_t& consumed) {
    if (in.empty() || in[0] != kWaveHeaderSize) {
        return std::nullopt;
    }
    auto format = DecodeWaveFormat(in.subspan(1));
    if (!format) {
        return std::nullopt;
    }
    size_t offset = 1 + kWaveHeaderSize;
    auto driverName = DecodeShortString(in, offset);
    if (!driverName) {
        return std::nullopt;
    }
    auto formatName = DecodeShortString(in, offset);
    if (!formatName) {
        return std::nullopt;
    }
    consumed = offset;
    return TStreamParams{*format, std::move(*driverName), std::move(*formatName)};
}

void EncodeClientStart(const TClientStart& start, Bytes& out, bool withResume) {
    PutU16(out, start.bufferLength);
    if (withResume) {
        PutU16(out, start.resumeSeq);
    }
}

std::optional<TClientStart> DecodeClientStart(ByteView in) {
    if (in.size() < kClientStartSize) {
        return std::nullopt;
    }
    return TClientStart{GetU16(in, 0), GetU16(in, 2)};
}

void EncodeBlockHeader(const TBlockHeader& header, Bytes& out) {
    PutU16(out, header.length);
    PutU16(out, header.seq);
    out.push_back(header.type);
}

std::optional<TBlockHeader> DecodeBlockHeader(ByteView in) {
    if (in.size() < kBlockHeaderSize) {
        return std::nullopt;
    }
    return TBlockHeader{GetU16(in, 0), GetU16(in, 2), in[4]};
}

Bytes EncodeLoginResultMessage(uint8_t code) {
    Bytes out;
    EncodeBlockHeader(TBlockHeader{1, mcLoginResult, btMessage}, out);
    out.push_back(code);
    return out;
}

Bytes EncodeServerAnnouncement(double utcDays, const TStreamParams& params) {
    Bytes out;
    EncodeHello(TStreamHello{kMagicWord, kKindServer, kProtocolVersion, 0, 0}, out);
    EncodeServerTime(utcDays, out);
    EncodeStreamParams(params, out);
    return out;
}

std::optional<Bytes> EncodeClientAnswer(const std::string& password, const TClientStart& start,
                                        bool withDecoder) {
    if (password.size() > kShortStringMax) {
        return std::nullopt;
    }
    Bytes out;
    EncodeHello(TStreamHello{kMagicWord, kKindClient, kProtocolVersion, 0,
                             static_cast<uint8_t>(password.size())},
                out);
    out.insert(out.end(), password.begin(), password.end());
    // Without a decoder only a buffer length of 0 follows.
    EncodeClientStart(withDecoder ? start : TClientStart{0, 0}, out, withDecoder);
    return out;
}

}  // namespace brivanta::protocol
