#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brivanta::common {

// Where desktop sessions look for programs to start at login: the user's
// folder (written) and the machine's folders (only read).
struct AutoStartFolders {
    std::string user;                  // $XDG_CONFIG_HOME/autostart or ~/.config/autostart
    std::vector<std::string> machine;  // each of $XDG_CONFIG_DIRS (or /etc/xdg) + /autostart

    static AutoStartFolders FromEnvironment();
};

// True when an entry of the machine's folders or of the user's folder starts
// the executable (paths compared ignoring case). Unreadable folders are skipped.
bool IsAutoStartEnabled(const AutoStartFolders& folders, const std::string& executablePath);

// On: unless an entry of the user's folder already starts the executable,
// writes one named entryName, or entryName followed by 1, 2, ... while that
// name is taken. Off: removes every entry of the user's folder that starts the
// executable, whatever its name. Returns an error text on failure.
std::optional<std::string> SetAutoStart(const AutoStartFolders& folders,
                                        const std::string& executablePath, bool on,
                                        const std::string& entryName);

// The program an entry's "Exec=" line starts (its first word, unquoted).
std::string ExecProgram(const std::string& execValue);
// An "Exec=" value that starts the executable, quoted as desktop entries require.
std::string QuoteExec(const std::string& executablePath);

}  // namespace brivanta::common
