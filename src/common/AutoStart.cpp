#include "common/AutoStart.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/ProfileFile.h"
#include "common/Utils.h"

namespace brivanta::common {

namespace fs = std::filesystem;

namespace {

constexpr const char* kEntrySection = "Desktop Entry";

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The program of a desktop entry file, or empty when it has none.
std::string EntryProgram(const fs::path& file) {
    ProfileFile entry;
    if (entry.Load(file.string())) {
        return {};
    }
    return ExecProgram(entry.ReadString(kEntrySection, "Exec", ""));
}

bool StartsExecutable(const fs::path& file, const std::string& executablePath) {
    return UpperText(EntryProgram(file)) == UpperText(executablePath);
}

// The desktop entry files of a folder; none when it cannot be read.
std::vector<fs::path> EntriesOf(const std::string& folder) {
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".desktop") {
            entries.push_back(it->path());
        }
    }
    return entries;
}

std::string FreeEntryName(const std::string& folder, const std::string& entryName) {
    std::string name = entryName;
    for (int n = 1; fs::exists(fs::path(folder) / (name + ".desktop")); ++n) {
        name = entryName + std::to_string(n);
    }
    return name;
}

std::optional<std::string> WriteEntry(const std::string& folder, const std::string& name,
                                      const std::string& executablePath) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        return "Cannot create " + folder + ": " + ec.message();
    }
    ProfileFile entry;
    entry.WriteString(kEntrySection, "Type", "Application");
    entry.WriteString(kEntrySection, "Name", name);
    entry.WriteString(kEntrySection, "Exec", QuoteExec(executablePath));
    entry.WriteString(kEntrySection, "X-GNOME-Autostart-enabled", "true");
    return entry.Save((fs::path(folder) / (name + ".desktop")).string());
}

}  // namespace

AutoStartFolders AutoStartFolders::FromEnvironment() {
    AutoStartFolders folders;
    std::string configHome = Env("XDG_CONFIG_HOME");
    if (configHome.empty()) {
        configHome = Env("HOME") + "/.config";
    }
    folders.user = configHome + "/autostart";
    std::string dirs = Env("XDG_CONFIG_DIRS");
    if (dirs.empty()) {
        dirs = "/etc/xdg";
    }
    std::istringstream list(dirs);
    for (std::string dir; std::getline(list, dir, ':');) {
        if (!dir.empty()) {
            folders.machine.push_back(dir + "/autostart");
        }
    }
    return folders;
}

std::string ExecProgram(const std::string& execValue) {
    const size_t start = execValue.find_first_not_of(" \t");
    if (start == std::string::npos) {
        return {};
    }
    const bool quoted = execValue[start] == '"';
    std::string program;
    for (size_t i = start + (quoted ? 1 : 0); i < execValue.size(); ++i) {
        const char c = execValue[i];
        if (quoted ? c == '"' : (c == ' ' || c == '\t')) {
            break;
        }
        const bool escaped = (quoted && c == '\\') || (c == '%' && execValue[i + 1] == '%');
        if (escaped && i + 1 < execValue.size()) {
            ++i;
        }
        program.push_back(execValue[i]);
    }
    return program;
}

std::string QuoteExec(const std::string& executablePath) {
    std::string quoted = "\"";
    for (const char c : executablePath) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted.push_back('\\');
        } else if (c == '%') {
            quoted.push_back('%');  // field codes: a literal percent is doubled
        }
        quoted.push_back(c);
    }
    return quoted + "\"";
}

bool IsAutoStartEnabled(const AutoStartFolders& folders, const std::string& executablePath) {
    std::vector<std::string> all = folders.machine;
    all.push_back(folders.user);
    for (const std::string& folder : all) {
        for (const fs::path& entry : EntriesOf(folder)) {
            if (StartsExecutable(entry, executablePath)) {
                return true;
            }
        }
    }
    return false;
}

std::optional<std::string> SetAutoStart(const AutoStartFolders& folders,
                                        const std::string& executablePath, bool on,
                                        const std::string& entryName) {
    for (const fs::path& entry : EntriesOf(folders.user)) {
        if (!StartsExecutable(entry, executablePath)) {
            continue;
        }
        if (on) {
            return std::nullopt;
        }
        std::error_code ec;
        fs::remove(entry, ec);
        if (ec) {
            return "Cannot remove " + entry.string() + ": " + ec.message();
        }
    }
    if (!on) {
        return std::nullopt;
    }
    return WriteEntry(folders.user, FreeEntryName(folders.user, entryName), executablePath);
}

}  // namespace brivanta::common
