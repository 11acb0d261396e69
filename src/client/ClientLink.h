#pragma once

#include <cstddef>
#include <cstdint>

namespace brivanta::client {

// What the client tells the control programs linked to it on this machine:
// notifications (code, value) and blocks of data (the audio tap, external
// data). The local link implements it; until a program joins, nothing goes
// anywhere.
//
// Threads: called on the client's loop thread only.
class IClientLink {
  public:
    virtual ~IClientLink() = default;

    // Sends code and value to every linked program; with `wait` each send
    // waits for the receiver's answer.
    virtual void Broadcast(int32_t code, int32_t value, bool wait) = 0;
    // Sends a block of data with code and value to every linked program.
    virtual void BroadcastData(int32_t code, int32_t value, const uint8_t* data, size_t size) = 0;
    // True while at least one program is linked (so that blocks nobody would
    // receive are not even built).
    virtual bool HasPeers() const = 0;
};

// The link of a client that no program can join.
class NullClientLink final : public IClientLink {
  public:
    void Broadcast(int32_t, int32_t, bool) override {}
    void BroadcastData(int32_t, int32_t, const uint8_t*, size_t) override {}
    bool HasPeers() const override { return false; }
};

// Notification codes of the client.
inline constexpr int32_t kNotifyDeviceMissing = 4096;
inline constexpr int32_t kNotifyDeviceFound = 4097;

}  // namespace brivanta::client
