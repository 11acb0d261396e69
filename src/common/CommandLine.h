#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brivanta::common {

// The command line both programs share:
//   [--headless] [--config FILE] [--status-interval MS] [--play]
//   --list-devices
//   --list-codecs [--rate HZ] [--channels N]
struct CommandLine {
    bool headless = false;
    bool play = false;  // the client only
    bool listDevices = false;
    bool listCodecs = false;
    std::string configPath;  // empty: beside the executable
    int statusIntervalMs = 0;
    int rate = 44100;
    int channels = 2;
};

// Parses argv; on a bad argument returns nullopt and sets error to a message
// naming it. allowPlay: whether --play is an option of this program.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, bool allowPlay,
                                            std::string& error);

// The usage text for a program.
std::string UsageText(const std::string& program, bool allowPlay);

// The path of the running executable (/proc/self/exe), or fallback.
std::string ExecutablePath(const std::string& fallback);

}  // namespace brivanta::common
