#include "common/ProfileSettings.h"

#include <algorithm>
#include <filesystem>

#include "common/Utils.h"

namespace brivanta::common {

namespace {

constexpr std::string_view kPositionSection = "Position";
constexpr std::string_view kPluginSection = "Plugins";

}  // namespace

void SettingsReader::Text(std::string_view section, std::string_view key, std::string_view fallback,
                          std::string& field) {
    if (!Failed()) {
        field = file_.ReadString(section, key, fallback);
    }
}

void SettingsReader::Text(std::string_view section, std::string_view key, std::string_view fallback,
                          size_t maxBytes, std::string& field) {
    if (!Failed()) {
        field = CutUtf8(file_.ReadString(section, key, fallback), maxBytes);
    }
}

void SettingsReader::Password(std::string_view section, std::string_view key, std::string& field) {
    if (!Failed()) {
        field = UnscramblePassword(file_.ReadString(section, key, ""));
    }
}

void SettingsReader::Bool(std::string_view section, std::string_view key, bool fallback,
                          bool& field) {
    int64_t value = 0;
    if (ReadRanged(section, key, fallback ? 1 : 0, std::numeric_limits<int32_t>::min(),
                   std::numeric_limits<int32_t>::max(), value)) {
        field = value != 0;
    }
}

void SettingsReader::Number(std::string_view section, std::string_view key, double fallback,
                            double& field) {
    if (!Failed()) {
        field = file_.ReadFloat(section, key, fallback);
    }
}

bool SettingsReader::ReadRanged(std::string_view section, std::string_view key, int64_t fallback,
                                int64_t min, int64_t max, int64_t& value) {
    if (Failed()) {
        return false;
    }
    const auto stored = file_.ReadValue(section, key);
    const auto number = stored ? ParseInteger(*stored) : std::nullopt;
    if (!number) {
        value = fallback;
        return true;
    }
    if (*number < min || *number > max) {
        status_.ok = false;
        status_.failedKey = std::string(key);
        status_.error = "Range check error: [" + std::string(section) + "] " + std::string(key) +
                        "=" + *stored + " is outside " + std::to_string(min) + ".." +
                        std::to_string(max);
        return false;
    }
    value = *number;
    return true;
}

void SettingsReader::NumberedList(std::string_view section, std::string_view prefix,
                                  std::vector<std::string>& field) {
    if (Failed()) {
        return;
    }
    field.clear();
    for (int n = 1;; ++n) {
        std::string value = file_.ReadString(section, std::string(prefix) + std::to_string(n), "");
        if (value.empty()) {
            break;
        }
        field.push_back(std::move(value));
    }
}

void SettingsWriter::Password(std::string_view section, std::string_view key,
                              std::string_view value) {
    file_.WriteString(section, key, ScramblePassword(value));
}

void SettingsWriter::NumberedList(std::string_view section, std::string_view prefix,
                                  const std::vector<std::string>& values) {
    for (size_t i = 0; i < values.size(); ++i) {
        file_.WriteString(section, std::string(prefix) + std::to_string(i + 1), values[i]);
    }
}

SettingsReadStatus ReadWindowBounds(const std::string& path, WindowBounds& bounds) {
    bounds = WindowBounds{0, 0, 0, 0};
    ProfileFile file;
    if (auto error = file.Load(path)) {
        return SettingsReadStatus{false, std::move(*error), ""};
    }
    SettingsReader read(file);
    read.Integer(kPositionSection, "Left", -1, bounds.Left);
    read.Integer(kPositionSection, "Top", -1, bounds.Top);
    read.Integer(kPositionSection, "Width", -1, bounds.Width);
    read.Integer(kPositionSection, "Height", -1, bounds.Height);
    return read.Status();
}

std::optional<std::string> WriteWindowBounds(const std::string& path, const WindowBounds& bounds) {
    ProfileFile file;
    if (auto error = file.Load(path)) {
        return error;
    }
    SettingsWriter write(file);
    write.Integer(kPositionSection, "Left", bounds.Left);
    write.Integer(kPositionSection, "Top", bounds.Top);
    write.Integer(kPositionSection, "Width", bounds.Width);
    write.Integer(kPositionSection, "Height", bounds.Height);
    return file.Save(path);
}

WindowBounds PlaceWindow(const WindowBounds& stored, int32_t screenWidth, int32_t screenHeight) {
    WindowBounds w = stored;
    if (w.Width < 0) {
        w.Width = 400;
    }
    if (w.Height < 0) {
        w.Height = 440;
    }
    if (w.Left < 0) {
        w.Left = (screenWidth - w.Width) / 2;
    }
    if (w.Top < 0) {
        w.Top = (screenHeight - w.Height) / 2;
    }
    w.Left = std::max(w.Left, 0);
    w.Top = std::max(w.Top, 0);
    // A position stored for a larger screen would leave no part of the window
    // on this one: such a window is moved back until it fits.
    if (w.Left >= screenWidth) {
        w.Left = std::max(screenWidth - w.Width, 0);
    }
    if (w.Top >= screenHeight) {
        w.Top = std::max(screenHeight - w.Height, 0);
    }
    w.Width = std::min(w.Width, screenWidth - w.Left);
    w.Height = std::min(w.Height, screenHeight - w.Top);
    return w;
}

WindowBounds BoundsToStore(const WindowBounds& window) {
    return WindowBounds{std::max(window.Left, 0), std::max(window.Top, 0), window.Width,
                        window.Height};
}

void ReadPluginSection(SettingsReader& read, const std::string& settingsPath,
                       std::string& pluginPath, std::vector<std::string>& pluginsInUse) {
    read.Text(kPluginSection, "Path", SettingsFolder(settingsPath), pluginPath);
    read.NumberedList(kPluginSection, "File", pluginsInUse);
}

void WritePluginSection(ProfileFile& file, const std::string& pluginPath,
                        const std::vector<std::string>& pluginsInUse) {
    file.EraseSection(kPluginSection);
    SettingsWriter write(file);
    write.Text(kPluginSection, "Path", pluginPath);
    write.NumberedList(kPluginSection, "File", pluginsInUse);
}

std::string DefaultSettingsPath(const std::string& executablePath) {
    return std::filesystem::path(executablePath).replace_extension(".ini").string();
}

std::string SettingsFolder(const std::string& settingsPath) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(settingsPath, ec);
    if (ec) {
        path = settingsPath;
    }
    return path.lexically_normal().parent_path().string();
}

}  // namespace brivanta::common
