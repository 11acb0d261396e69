#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/ProfileSettings.h"

namespace brivanta::client {

// Everything the client keeps between runs. A default-constructed record is
// all zeros and empty texts, as the record is before each read; reading fills
// in the defaults of the keys that are missing.
struct TSetting {
    std::string Name;
    std::string Device;
    int32_t Wait = 0;  // seconds to wait for the output device at start-up
    std::string IP;
    uint16_t Port = 0;
    std::string Password;
    double Buffer = 0;      // seconds of play-out buffer
    int32_t MinBuffer = 0;  // percent of Buffer, 1..80
    int32_t Mode = 0;       // 0 do nothing, 1 autoplay, 2 interactive
    int16_t PID = 0;
    bool ToTray = false;
    bool OriginalLevel = false;
    bool SynhroTime = false;
    int32_t Silence = 0;  // dB, -42..-12
    int32_t Time = 0;
    int32_t Restore = 0;
    int32_t Break = 0;
    int32_t Connect = 0;
    double FadeOut = 0;
    double FadeIn = 0;
    int32_t ExternalMode = 0;  // 0 ignore, 1 control program, 2 LAN port
    std::string ExtIP;
    uint16_t ExtPort = 0;
    std::string ExtPassword;
    std::string PluginPath;
    std::vector<std::string> PluginsInUse;
    common::WindowBounds Position{0, 0, 0, 0};

    bool operator==(const TSetting&) const = default;
};

// Reads sections "Setting" and "Plugins" of the file into settings (cleared
// first). The default plug-in folder is the settings file's folder.
common::SettingsReadStatus ReadSettings(const std::string& path, TSetting& settings);
// Writes every field but the position back, keeping the file's other lines.
std::optional<std::string> WriteSettings(const std::string& path, const TSetting& settings);

common::SettingsReadStatus ReadPosition(const std::string& path, TSetting& settings);
std::optional<std::string> WritePosition(const std::string& path, const TSetting& settings);

}  // namespace brivanta::client
