#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/TcpSocket.h"
#include "protocol/AudioProtocol.h"

// The client's half of the stream handshake and its block reader: the byte
// work on the stream connection, run on the client's main thread. Log texts
// and reconnect delays of every failure are part of the result, so the engine
// only acts on them.
namespace brivanta::client {

// The outcome of one handshake step. delayTenths: the reconnect delay to set,
// in tenths of a second; 0 = lengthen the current delay by one step.
struct LoginStep {
    bool ok = true;
    std::string logText;
    int delayTenths = 0;

    static LoginStep Failure(std::string text, int delay) {
        return {false, std::move(text), delay};
    }
};

// What the server announced before the client answers.
struct ServerAnnouncement {
    protocol::TStreamHello hello;
    double serverTime = 0;  // UTC day count
    protocol::TStreamParams params;
};

// Reads and checks the server's greeting, its time and the stream parameters.
LoginStep ReadServerAnnouncement(common::TcpSocket& socket, ServerAnnouncement& announcement);

// Writes hello, password and TClientStart as one write. Without a decoder the
// start record is cut to a buffer length of 0 and the step fails with the
// "no decoder" text after the write.
LoginStep WriteClientAnswer(common::TcpSocket& socket, const std::string& password,
                            const protocol::TClientStart& start, bool decoderFound);

// The buffer setting in seconds, limited to what the 16-bit buffer length of
// TClientStart can carry: 0.1 .. 65.5.
double ClampBufferSeconds(double seconds);
// The buffer length announced for a buffer setting, in whole milliseconds.
uint16_t AnnouncedBufferLength(double seconds);
// The read time-out of the stream connection (and the connect time-out):
// half the buffer, at least 500 ms.
int StreamReadTimeoutMs(double seconds);

// The client's log line for a login result that came in a message block
// (nullopt: the code is ignored).
std::optional<std::string> ServerRefusalText(uint8_t code);

// Reads one stream block: header, then the payload if its length is not 0.
// 0 or the socket's error code.
int ReadStreamBlock(common::TcpSocket& socket, protocol::TBlockHeader& header,
                    protocol::Bytes& payload);

}  // namespace brivanta::client
