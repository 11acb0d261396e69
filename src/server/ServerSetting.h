#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/ProfileSettings.h"

namespace brivanta::server {

// Everything the server keeps between runs. A default-constructed record is
// all zeros and empty texts, as the record is before each read; reading fills
// in the defaults of the keys that are missing.
struct TSetting {
    std::string Name;
    std::string Device;
    uint16_t Port = 0;
    bool Auto = false;
    int32_t Delay = 0;
    std::string Password;
    int32_t BlockSize = 0;  // 0..3: blocks of (BlockSize + 1) x 1024 x Channles bytes
    int32_t Bitrate = 0;    // capture rate: 32000, 44100 or 48000
    int32_t Channles = 0;   // 1 or 2
    int32_t MaxConnections = 0;
    bool ToTray = false;
    std::string Driver;  // codec driver name, at most 128 bytes
    int32_t Tag = 0;
    int32_t FormatIndex = 0;
    uint8_t ExtMode = 0;  // 0 none, 1 from the LAN port, 2 interactive
    uint16_t ExtPort = 0;
    int16_t ExtPID = 0;
    std::string ExtPass;
    bool ExtIPOnly = false;
    std::string ExtIP;
    common::WindowBounds Position{0, 0, 0, 0};
    std::string PluginPath;
    std::vector<std::string> PluginsInUse;

    bool operator==(const TSetting&) const = default;
};

// Reads sections "setting", "Codec" and "Plugins" of the file into settings
// (cleared first) and the key "Author" (never written) into author. The
// default plug-in folder is the settings file's folder.
common::SettingsReadStatus ReadSettings(const std::string& path, TSetting& settings, bool& author);
// Writes every field but the position back, keeping the file's other lines.
// Returns an error text when the file cannot be read or written.
std::optional<std::string> WriteSettings(const std::string& path, const TSetting& settings);

common::SettingsReadStatus ReadPosition(const std::string& path, TSetting& settings);
std::optional<std::string> WritePosition(const std::string& path, const TSetting& settings);

}  // namespace brivanta::server
