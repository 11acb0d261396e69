#include "client/ClientSetting.h"

#include <algorithm>

namespace brivanta::client {

namespace {

constexpr const char* kMain = "Setting";

void ReadMainKeys(common::SettingsReader& read, TSetting& s) {
    read.Text(kMain, "Name", "", s.Name);
    read.Text(kMain, "Device", "", s.Device);
    read.Integer<int32_t>(kMain, "Wait", 10, s.Wait);
    read.Text(kMain, "IP", "127.0.0.1", s.IP);
    read.Integer<uint16_t>(kMain, "Port", 2102, s.Port);
    read.Password(kMain, "Password", s.Password);
    read.Number(kMain, "Buffer", 1.0, s.Buffer);
    read.Integer<int32_t>(kMain, "Mode", 0, s.Mode);
    read.Integer<int16_t>(kMain, "PID", 0, s.PID);
    read.Bool(kMain, "ToTray", false, s.ToTray);
    read.Integer<int32_t>(kMain, "Silence", -32, s.Silence);
    read.Integer<int32_t>(kMain, "Time", 0, s.Time);
    read.Integer<int32_t>(kMain, "Restore", 1, s.Restore);
    read.Integer<int32_t>(kMain, "Break", 10, s.Break);
    read.Integer<int32_t>(kMain, "Connect", 10, s.Connect);
    read.Number(kMain, "FadeOut", 1.0, s.FadeOut);
    read.Number(kMain, "FadeIn", 2.0, s.FadeIn);
    read.Integer<int32_t>(kMain, "ExternalMode", 0, s.ExternalMode);
    read.Text(kMain, "ExtIP", "127.0.0.1", s.ExtIP);
    read.Integer<uint16_t>(kMain, "ExtPort", 2103, s.ExtPort);
    read.Password(kMain, "ExtPassword", s.ExtPassword);
    read.Bool(kMain, "OriginalLevel", false, s.OriginalLevel);
    read.Integer<int32_t>(kMain, "MinBuffer", 1, s.MinBuffer);
    read.Bool(kMain, "SynhroTime", false, s.SynhroTime);
}

}  // namespace

common::SettingsReadStatus ReadSettings(const std::string& path, TSetting& settings) {
    settings = TSetting{};
    common::ProfileFile file;
    if (const auto error = file.Load(path)) {
        return common::SettingsReadStatus{false, *error, ""};
    }
    common::SettingsReader read(file);
    ReadMainKeys(read, settings);
    if (read.Failed()) {
        return read.Status();
    }
    settings.Silence = std::clamp(settings.Silence, -42, -12);
    settings.MinBuffer = std::clamp(settings.MinBuffer, 1, 80);
    common::ReadPluginSection(read, path, settings.PluginPath, settings.PluginsInUse);
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
    write.Integer(kMain, "Wait", s.Wait);
    write.Text(kMain, "IP", s.IP);
    write.Integer(kMain, "Port", s.Port);
    write.Password(kMain, "Password", s.Password);
    write.Number(kMain, "Buffer", s.Buffer);
    write.Integer(kMain, "Mode", s.Mode);
    write.Integer(kMain, "PID", s.PID);
    write.Bool(kMain, "ToTray", s.ToTray);
    write.Integer(kMain, "Silence", s.Silence);
    write.Integer(kMain, "Time", s.Time);
    write.Integer(kMain, "Restore", s.Restore);
    write.Integer(kMain, "Break", s.Break);
    write.Integer(kMain, "Connect", s.Connect);
    write.Number(kMain, "FadeOut", s.FadeOut);
    write.Number(kMain, "FadeIn", s.FadeIn);
    write.Integer(kMain, "ExternalMode", s.ExternalMode);
    write.Text(kMain, "ExtIP", s.ExtIP);
    write.Integer(kMain, "ExtPort", s.ExtPort);
    write.Password(kMain, "ExtPassword", s.ExtPassword);
    write.Bool(kMain, "OriginalLevel", s.OriginalLevel);
    write.Integer(kMain, "MinBuffer", s.MinBuffer);
    write.Bool(kMain, "SynhroTime", s.SynhroTime);
    common::WritePluginSection(file, s.PluginPath, s.PluginsInUse);
    return file.Save(path);
}

common::SettingsReadStatus ReadPosition(const std::string& path, TSetting& settings) {
    return common::ReadWindowBounds(path, settings.Position);
}

std::optional<std::string> WritePosition(const std::string& path, const TSetting& settings) {
    return common::WriteWindowBounds(path, settings.Position);
}

}  // namespace brivanta::client
