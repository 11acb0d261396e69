#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "audio/WaveDevice.h"

namespace brivanta::audio {

// One usable device: its back end's number and the name shown to the user.
struct WaveDeviceEntry {
    int32_t id = 0;
    std::string name;
};

// How a listed name is derived from what the device reports: cut at 32
// characters either way, and with surrounding blanks removed when Trimmed.
enum class DeviceNameForm { Trimmed, AsReported };

inline constexpr size_t kMaxDeviceNameChars = 32;

// The device name as listed: UTF-8 aware, never cutting a character in two.
std::string ListedDeviceName(const std::string& reported, DeviceNameForm form);

// The devices of one direction that can run 44.1 kHz 16-bit stereo, in the
// back end's order.
std::vector<WaveDeviceEntry> ListUsableDevices(IWaveBackend& backend, WaveDirection direction,
                                               DeviceNameForm form);

// The --list-devices output: one usable device name a line, exactly as the
// Device setting must name it (capture devices of the server, trimmed;
// output devices of the client, as the player's refreshed list shows them).
void WriteDeviceList(std::ostream& out, IWaveBackend& backend, WaveDirection direction);

}  // namespace brivanta::audio
