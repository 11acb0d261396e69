#include "client/StreamLogin.h"

#include <algorithm>
#include <cmath>

namespace brivanta::client {

namespace {

constexpr int kDelayReadFailure = 10;
constexpr int kDelayTimeFailure = 5;
constexpr int kDelayNoDecoder = 30;

const char* const kErrorReadParams = "Error read stream parameters";

bool ServerKindOk(uint8_t kind) {
    return kind == protocol::kKindServer || kind == protocol::kKindRelay;
}

// Reads one short string; a length of 0 is an empty text.
bool ReadShortString(common::TcpSocket& socket, std::string& text) {
    uint8_t length = 0;
    if (socket.ReadExactly(&length, 1) != 0) {
        return false;
    }
    text.assign(length, '\0');
    return length == 0 || socket.ReadExactly(text.data(), length) == 0;
}

LoginStep ReadStreamParams(common::TcpSocket& socket, protocol::TStreamParams& params) {
    uint8_t headerSize = 0;
    if (socket.ReadExactly(&headerSize, 1) != 0 || headerSize != protocol::kWaveHeaderSize) {
        return LoginStep::Failure(kErrorReadParams, kDelayReadFailure);
    }
    uint8_t header[protocol::kWaveHeaderSize];
    if (socket.ReadExactly(header, sizeof(header)) != 0 ||
        !ReadShortString(socket, params.driverName) ||
        !ReadShortString(socket, params.formatName)) {
        return LoginStep::Failure(kErrorReadParams, kDelayReadFailure);
    }
    params.format = *protocol::DecodeWaveFormat(header);
    return {};
}

}  // namespace

LoginStep ReadServerAnnouncement(common::TcpSocket& socket, ServerAnnouncement& announcement) {
    uint8_t helloBytes[protocol::kStreamHelloSize];
    if (socket.ReadExactly(helloBytes, sizeof(helloBytes)) != 0) {
        return LoginStep::Failure("Error connection to server", kDelayReadFailure);
    }
    announcement.hello = *protocol::DecodeHello(helloBytes);
    const auto& hello = announcement.hello;
    if (!hello.MagicOk() || hello.version != protocol::kProtocolVersion ||
        !ServerKindOk(hello.kind)) {
        return LoginStep::Failure("Error format or version server", 0);
    }
    if (hello.extra != 0) {
        // Waiting out the refusal: the delay is the refusal time itself.
        return LoginStep::Failure("Connection reject: your IP is banned.", hello.extra);
    }
    uint8_t timeBytes[protocol::kServerTimeSize];
    if (socket.ReadExactly(timeBytes, sizeof(timeBytes)) != 0) {
        return LoginStep::Failure("Error create connection", kDelayTimeFailure);
    }
    announcement.serverTime = *protocol::DecodeServerTime(timeBytes);
    return ReadStreamParams(socket, announcement.params);
}

LoginStep WriteClientAnswer(common::TcpSocket& socket, const std::string& password,
                            const protocol::TClientStart& start, bool decoderFound) {
    const auto answer = protocol::EncodeClientAnswer(password, start, decoderFound);
    if (!answer) {
        return LoginStep::Failure("The password is longer than 255 bytes", 0);
    }
    if (socket.WriteAll(answer->data(), answer->size()) != 0) {
        return LoginStep::Failure("Error send information to server ", kDelayReadFailure);
    }
    if (!decoderFound) {
        return LoginStep::Failure("Decoder don't found in the ACM-codecs!", kDelayNoDecoder);
    }
    return {};
}

double ClampBufferSeconds(double seconds) {
    return std::clamp(seconds, 0.1, 65.5);
}

// The buffer setting is a decimal number of seconds; the small allowance keeps
// a value such as 2.3 (2.2999... in binary) at 2300 ms rather than 2299.
uint16_t AnnouncedBufferLength(double seconds) {
    return static_cast<uint16_t>(std::floor(ClampBufferSeconds(seconds) * 1000.0 + 1e-6));
}

int StreamReadTimeoutMs(double seconds) {
    return std::max(500, static_cast<int>(std::floor(seconds * 500.0 + 1e-6)));
}

std::optional<std::string> ServerRefusalText(uint8_t code) {
    switch (code) {
        case protocol::lrNoMagicWord:
            return "No Brivanta on server";
        case protocol::lrNoClientKind:
            return "Error communication with server";
        case protocol::lrInvalidVersion:
            return "Invalid version on server";
        case protocol::lrInvalidPassword:
            return "Invalid password send to server ";
        case protocol::lrBufferLength:
            return "Error start codec";
        case protocol::lrResumeNumber:
            return "Error read start data from server";
        default:
            return std::nullopt;
    }
}

int ReadStreamBlock(common::TcpSocket& socket, protocol::TBlockHeader& header,
                    protocol::Bytes& payload) {
    uint8_t headerBytes[protocol::kBlockHeaderSize];
    if (const int rc = socket.ReadExactly(headerBytes, sizeof(headerBytes)); rc != 0) {
        return rc;
    }
    header = *protocol::DecodeBlockHeader(headerBytes);
    payload.resize(header.length);
    return header.length == 0 ? 0 : socket.ReadExactly(payload.data(), payload.size());
}

}  // namespace brivanta::client
