#include "server/ServerSetting.h"

#include <algorithm>

namespace brivanta::server {

namespace {

constexpr const char* kMain = "setting";
constexpr const char* kCodec = "Codec";
constexpr size_t kMaxDriverName = 128;

bool IsCaptureRate(int32_t rate) {
    return rate == 32000 || rate == 44100 || rate == 48000;
}

void ReadMainKeys(common::SettingsReader& read, TSetting& s, bool& author) {
    read.Text(kMain, "Name", "", s.Name);
    read.Text(kMain, "Device", "", s.Device);
    read.Integer<uint16_t>(kMain, "Port", 2102, s.Port);
    read.Bool(kMain, "Auto", false, s.Auto);
    read.Integer<int32_t>(kMain, "Delay", 0, s.Delay);
    read.Password(kMain, "Password", s.Password);
    read.Integer<int32_t>(kMain, "BlockSize", 1, s.BlockSize);
    read.Integer<int32_t>(kMain, "Bitrate", 44100, s.Bitrate);
    read.Integer<int32_t>(kMain, "Channles", 2, s.Channles);
    read.Integer<int32_t>(kMain, "MaxConnections", 256, s.MaxConnections);
    read.Bool(kMain, "ToTray", false, s.ToTray);
    read.Integer<uint8_t>(kMain, "ExtMode", 0, s.ExtMode);
    read.Integer<uint16_t>(kMain, "ExtPort", 2105, s.ExtPort);
    read.Integer<int16_t>(kMain, "ExtPID", 1, s.ExtPID);
    read.Password(kMain, "ExtPass", s.ExtPass);
    read.Bool(kMain, "ExtIPOnly", false, s.ExtIPOnly);
    read.Text(kMain, "ExtIP", "", s.ExtIP);
    read.Bool(kMain, "Author", false, author);
}

void ReadCodecKeys(common::SettingsReader& read, TSetting& s) {
    read.Text(kCodec, "Driver", "", kMaxDriverName, s.Driver);
    read.Integer<int32_t>(kCodec, "Tag", 85, s.Tag, 0);
    read.Integer<int32_t>(kCodec, "FormatIndex", 0, s.FormatIndex, 0);
}

}  // namespace

common::SettingsReadStatus ReadSettings(const std::string& path, TSetting& settings, bool& author) {
    settings = TSetting{};
    author = false;
    common::ProfileFile file;
    if (const auto error = file.Load(path)) {
        return common::SettingsReadStatus{false, *error, ""};
    }
    common::SettingsReader read(file);
    ReadMainKeys(read, settings, author);
    ReadCodecKeys(read, settings);
    if (read.Failed()) {
        return read.Status();
    }
    settings.Channles = std::clamp(settings.Channles, 1, 2);
    settings.BlockSize = std::clamp(settings.BlockSize, 0, 3);
    common::ReadPluginSection(read, path, settings.PluginPath, settings.PluginsInUse);
    if (!IsCaptureRate(settings.Bitrate)) {
        settings.Bitrate = 44100;
    }
    return read.Status();
}

std::optional<std::string> WriteSettings(const std::string& path, const TSetting& s) {
    common::ProfileFile file;
    if (auto error = file.Load(path)) {
        return error;
    }
    common::SettingsWriter write(file);
    write.Text(kMain, "Name", s.Name);
    write.Text(kMain, "Device", s.Device);
    write.Integer(kMain, "Port", s.Port);
    write.Bool(kMain, "Auto", s.Auto);
    write.Integer(kMain, "Delay", s.Delay);
    write.Password(kMain, "Password", s.Password);
    write.Integer(kMain, "BlockSize", s.BlockSize);
    write.Integer(kMain, "Bitrate", s.Bitrate);
    write.Integer(kMain, "Channles", s.Channles);
    write.Integer(kMain, "MaxConnections", s.MaxConnections);
    write.Bool(kMain, "ToTray", s.ToTray);
    write.Integer(kMain, "ExtMode", s.ExtMode);
    write.Integer(kMain, "ExtPort", s.ExtPort);
    write.Integer(kMain, "ExtPID", s.ExtPID);
    write.Password(kMain, "ExtPass", s.ExtPass);
    write.Bool(kMain, "ExtIPOnly", s.ExtIPOnly);
    write.Text(kMain, "ExtIP", s.ExtIP);
    write.Text(kCodec, "Driver", s.Driver);
    write.Integer(kCodec, "Tag", s.Tag);
    write.Integer(kCodec, "FormatIndex", s.FormatIndex);
    common::WritePluginSection(file, s.PluginPath, s.PluginsInUse);
    return file.Save(path);
}

common::SettingsReadStatus ReadPosition(const std::string& path, TSetting& settings) {
    return common::ReadWindowBounds(path, settings.Position);
}

std::optional<std::string> WritePosition(const std::string& path, const TSetting& settings) {
    return common::WriteWindowBounds(path, settings.Position);
}

}  // namespace brivanta::server
