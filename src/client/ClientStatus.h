#pragma once

#include <cstdint>
#include <string>

namespace brivanta::client {

// Connection state of the client, as the status label shows it.
enum TClientState : uint8_t { csStop = 0, csOffline = 1, csConnect = 2, csLogin = 3, csOnline = 4 };

// Whether the output device named in the settings has been found.
enum TDeviceState : uint8_t { dsNone = 0, dsMissing = 1, dsOpen = 2 };

// The label text of a state: "Stop", "Offline", "Connect", "Login", "Online".
const char* StateName(TClientState state);

// What the client engine publishes after every main cycle for a window or a
// status line. A plain copy, taken under the engine's lock.
struct TClientStatus {
    TClientState state = csStop;
    std::string stateText = "Stop";  // with "Increase"/"Overtake" while correcting
    TDeviceState deviceState = dsNone;
    double buffered = 0;   // seconds queued in the player
    double highLevel = 0;  // the top of the buffer gauge
    int32_t correction = 0;
    bool overflow = false;
    int32_t nextSeq = -1;   // -1: none (a fresh start)
    uint64_t connects = 0;  // successful logins since the start
    uint64_t correctedChunks = 0;
    uint64_t droppedBytes = 0;
    int64_t retryAt = 0;
    int32_t retrySteps = 0;
    double leftDb = -100;
    double rightDb = -100;
    std::string caption;
    std::string device;   // setting Device
    std::string server;   // IP:Port
    std::string codec;    // driver of the decoder opened at login
    std::string bitrate;  // format text opened at login
    size_t externalQueued = 0;
    // The Play and Stop buttons; an interactive client shows neither, its
    // control program starts and stops it.
    bool playVisible = true;
    bool stopVisible = false;
};

// The status text of a state at a correction step: "Overtake" below 0,
// "Increase" above, otherwise the state's label.
std::string StatusText(TClientState state, int32_t correction);

// One JSON object with the keys "state", "buffered", "correction",
// "next_seq", "connects" and the other fields of the status.
std::string StatusJson(const TClientStatus& status);

}  // namespace brivanta::client
