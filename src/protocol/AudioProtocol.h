#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/WaveFormat.h"

// The records of the stream connection: the login handshake and the stream
// blocks. Every integer is little-endian, every record packed; a short string
// is a length byte followed by that many bytes. Decoders take the bytes they
// are given and report failure rather than read beyond them.
namespace brivanta::protocol {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

inline constexpr std::array<char, 8> kMagicWord = {'B', 'r', 'i', 'v', 'a', 'n', 't', 'a'};
inline constexpr uint8_t kProtocolVersion = 2;
inline constexpr uint8_t kKindServer = 'S';
inline constexpr uint8_t kKindClient = 'C';
inline constexpr uint8_t kKindRelay = 'R';  // accepted from either side in place of S or C

inline constexpr size_t kStreamHelloSize = 12;
inline constexpr size_t kServerTimeSize = 8;
inline constexpr size_t kClientStartSize = 4;
inline constexpr size_t kClientStartNoDecoderSize = 2;
inline constexpr size_t kBlockHeaderSize = 5;
inline constexpr size_t kShortStringMax = 255;
inline constexpr uint8_t kWaveHeaderSize = 18;

// Sequence numbers run 1 .. 65534, 0, 1, ...; 0xFFFF asks for the newest block.
inline constexpr uint16_t kSeqNewest = 0xFFFF;
inline constexpr uint32_t kSeqModulus = 65535;
constexpr uint16_t NextSeq(uint16_t seq) {
    return static_cast<uint16_t>((seq + 1u) % kSeqModulus);
}

// Block types.
inline constexpr uint8_t btMusic = 0;
inline constexpr uint8_t btMessage = 255;

// Message codes of btMessage blocks.
inline constexpr uint8_t mcLoginResult = 255;

// Login result codes: the server's outcome of one handshake.
enum LoginResult : uint8_t {
    lrAdmitted = 0,
    lrSendInfoFailed = 1,
    lrNoMagicWord = 2,
    lrNoClientKind = 3,
    lrInvalidVersion = 5,
    lrInvalidPassword = 6,
    lrBufferLength = 7,
    lrResumeNumber = 8,
    lrNoSlot = 10,
    lrPasswordRead = 254,
    lrHelloRead = 255,
};

// The 12-byte greeting each side sends first. `extra` is the refusal byte in
// the server's hello and the password length in the client's.
struct TStreamHello {
    std::array<char, 8> magic = kMagicWord;
    uint8_t kind = 0;
    uint8_t version = kProtocolVersion;
    uint8_t reserved = 0;
    uint8_t extra = 0;

    bool MagicOk() const { return magic == kMagicWord; }
    bool operator==(const TStreamHello&) const = default;
};

// What the server announces about the stream it encodes.
struct TStreamParams {
    common::WaveFormatEx format;
    std::string driverName;
    std::string formatName;

    bool operator==(const TStreamParams&) const = default;
};

// The client's last words of the handshake.
struct TClientStart {
    uint16_t bufferLength = 0;  // milliseconds; 0 = the client has no decoder
    uint16_t resumeSeq = kSeqNewest;

    bool operator==(const TClientStart&) const = default;
};

// The 5-byte header before every stream block's payload.
struct TBlockHeader {
    uint16_t length = 0;
    uint16_t seq = 0;  // the message code for btMessage blocks
    uint8_t type = btMusic;

    bool operator==(const TBlockHeader&) const = default;
};

// Little-endian helpers. Readers require the view to hold the bytes.
void PutU16(Bytes& out, uint16_t value);
void PutU32(Bytes& out, uint32_t value);
uint16_t GetU16(ByteView in, size_t offset);
uint32_t GetU32(ByteView in, size_t offset);

void EncodeHello(const TStreamHello& hello, Bytes& out);
std::optional<TStreamHello> DecodeHello(ByteView in);

void EncodeServerTime(double utcDays, Bytes& out);
std::optional<double> DecodeServerTime(ByteView in);

void EncodeWaveFormat(const common::WaveFormatEx& format, Bytes& out);
std::optional<common::WaveFormatEx> DecodeWaveFormat(ByteView in);

// A text longer than 255 bytes is cut to 255 (a length byte cannot say more).
void EncodeShortString(const std::string& text, Bytes& out);

// The header size byte, the 18-byte wave format and the two short strings.
void EncodeStreamParams(const TStreamParams& params, Bytes& out);

// Decodes a complete TStreamParams from the front of `in`. Returns the record
// and sets `consumed`, or nullopt when the bytes are too few or the header size
// byte is not 18.
std::optional<TStreamParams> DecodeStreamParams(ByteView in, size_t& consumed);

// Writes all 4 bytes, or only the buffer length when `withResume` is false
// (the form a client without a decoder sends).
void EncodeClientStart(const TClientStart& start, Bytes& out, bool withResume = true);
std::optional<TClientStart> DecodeClientStart(ByteView in);

void EncodeBlockHeader(const TBlockHeader& header, Bytes& out);
std::optional<TBlockHeader> DecodeBlockHeader(ByteView in);

// The 6-byte message block that carries a login result to a refused client.
Bytes EncodeLoginResultMessage(uint8_t code);

// The server's greeting (not refused), its time and the stream parameters, as
// one write.
Bytes EncodeServerAnnouncement(double utcDays, const TStreamParams& params);

// The client's hello, password and start record, as one write; without a
// decoder the start record is cut to a buffer length of 0. A password of
// more than 255 bytes cannot be announced: nullopt.
std::optional<Bytes> EncodeClientAnswer(const std::string& password, const TClientStart& start,
                                        bool withDecoder);

}  // namespace brivanta::protocol
