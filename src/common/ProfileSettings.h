#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ProfileFile.h"

namespace brivanta::common {

// The outcome of reading a settings file. When a stored value is out of its
// field's range, reading stops there: `failedKey` names the key, the fields
// read before it hold their values and every later field keeps its zero.
struct SettingsReadStatus {
    bool ok = true;
    std::string error;      // a message naming the key and the value
    std::string failedKey;  // empty when ok
};

// Reads settings fields one after another from a profile, stopping at the
// first out-of-range value (every later call leaves its field alone).
class SettingsReader {
  public:
    explicit SettingsReader(const ProfileFile& file) : file_(file) {}

    void Text(std::string_view section, std::string_view key, std::string_view fallback,
              std::string& field);
    // The text cut to maxBytes bytes (at a character boundary).
    void Text(std::string_view section, std::string_view key, std::string_view fallback,
              size_t maxBytes, std::string& field);
    void Password(std::string_view section, std::string_view key, std::string& field);
    void Bool(std::string_view section, std::string_view key, bool fallback, bool& field);
    void Number(std::string_view section, std::string_view key, double fallback, double& field);

    // An integer field; a missing or non-integer value yields the fallback, an
    // integer outside [min, max] (the type's range unless narrower) stops the read.
    template <typename T>
    void Integer(std::string_view section, std::string_view key, T fallback, T& field,
                 int64_t min = std::numeric_limits<T>::min(),
                 int64_t max = std::numeric_limits<T>::max()) {
        int64_t value = 0;
        if (ReadRanged(section, key, fallback, min, max, value)) {
            field = static_cast<T>(value);
        }
    }

    // The texts of keys prefix1, prefix2, ... up to the first missing or empty one.
    void NumberedList(std::string_view section, std::string_view prefix,
                      std::vector<std::string>& field);

    bool Failed() const { return !status_.ok; }
    const SettingsReadStatus& Status() const { return status_; }

  private:
    bool ReadRanged(std::string_view section, std::string_view key, int64_t fallback, int64_t min,
                    int64_t max, int64_t& value);

    const ProfileFile& file_;
    SettingsReadStatus status_;
};

// Writes settings fields into a profile in the forms SettingsReader reads.
class SettingsWriter {
  public:
    explicit SettingsWriter(ProfileFile& file) : file_(file) {}

    void Text(std::string_view section, std::string_view key, std::string_view value) {
        file_.WriteString(section, key, value);
    }
    void Password(std::string_view section, std::string_view key, std::string_view value);
    void Bool(std::string_view section, std::string_view key, bool value) {
        file_.WriteBool(section, key, value);
    }
    void Integer(std::string_view section, std::string_view key, int64_t value) {
        file_.WriteInteger(section, key, value);
    }
    void Number(std::string_view section, std::string_view key, double value) {
        file_.WriteFloat(section, key, value);
    }
    // Keys prefix1 .. prefixN for the N texts, in order.
    void NumberedList(std::string_view section, std::string_view prefix,
                      const std::vector<std::string>& values);

  private:
    ProfileFile& file_;
};

// Main window bounds as stored; a negative value means not stored.
struct WindowBounds {
    int32_t Left = -1;
    int32_t Top = -1;
    int32_t Width = -1;
    int32_t Height = -1;

    bool operator==(const WindowBounds&) const = default;
};

// Reads and writes the four keys of section "Position" of a settings file,
// keeping its other lines.
SettingsReadStatus ReadWindowBounds(const std::string& path, WindowBounds& bounds);
std::optional<std::string> WriteWindowBounds(const std::string& path, const WindowBounds& bounds);

// Where the main window opens for stored bounds on a screen of that size: a
// missing size becomes 400 x 440, a missing position centres the window, any
// position still negative becomes 0, and the size is cut to fit the screen.
WindowBounds PlaceWindow(const WindowBounds& stored, int32_t screenWidth, int32_t screenHeight);
// What is stored of a closing window's bounds: a negative left or top as 0.
WindowBounds BoundsToStore(const WindowBounds& window);

// The plug-in folder (key "Path", default: the settings file's folder) and
// the plug-ins in use (keys "File1", "File2", ...) of section "Plugins".
void ReadPluginSection(SettingsReader& read, const std::string& settingsPath,
                       std::string& pluginPath, std::vector<std::string>& pluginsInUse);
// Replaces section "Plugins" with the folder and the list in order.
void WritePluginSection(ProfileFile& file, const std::string& pluginPath,
                        const std::vector<std::string>& pluginsInUse);

// A program's settings file: its executable's path with ".ini" for extension.
std::string DefaultSettingsPath(const std::string& executablePath);

// The folder of the settings file, absolute, without a trailing separator:
// the base of the "Log" folder and the default plug-in folder.
std::string SettingsFolder(const std::string& settingsPath);

}  // namespace brivanta::common
