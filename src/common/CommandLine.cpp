#include "common/CommandLine.h"

#include <filesystem>

#include "common/ProfileFile.h"

namespace brivanta::common {

namespace {

// The integer value of an option, within [min, max].
bool IntegerValue(const std::string& option, const std::string& text, int min, int max, int& value,
                  std::string& error) {
    const auto number = ParseInteger(text);
    if (!number || *number < min || *number > max) {
        error = option + " needs a number from " + std::to_string(min) + " to " +
                std::to_string(max) + ", not \"" + text + "\"";
        return false;
    }
    value = static_cast<int>(*number);
    return true;
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, bool allowPlay,
                                            std::string& error) {
    CommandLine line;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        const auto needValue = [&]() -> bool {
            if (!hasValue) {
                error = arg + " needs a value";
            }
            return hasValue;
        };
        if (arg == "--headless") {
            line.headless = true;
        } else if (arg == "--play" && allowPlay) {
            line.play = true;
        } else if (arg == "--list-devices") {
            line.listDevices = true;
        } else if (arg == "--list-codecs") {
            line.listCodecs = true;
        } else if (arg == "--config") {
            if (!needValue()) {
                return std::nullopt;
            }
            line.configPath = args[++i];
        } else if (arg == "--status-interval") {
            if (!needValue() ||
                !IntegerValue(arg, args[++i], 1, 86400000, line.statusIntervalMs, error)) {
                return std::nullopt;
            }
        } else if (arg == "--rate") {
            if (!needValue() || !IntegerValue(arg, args[++i], 8000, 192000, line.rate, error)) {
                return std::nullopt;
            }
        } else if (arg == "--channels") {
            if (!needValue() || !IntegerValue(arg, args[++i], 1, 2, line.channels, error)) {
                return std::nullopt;
            }
        } else {
            error = "unknown argument \"" + arg + "\"";
            return std::nullopt;
        }
    }
    if (line.listDevices && line.listCodecs) {
        error = "--list-devices and --list-codecs cannot be combined";
        return std::nullopt;
    }
    return line;
}

std::string UsageText(const std::string& program, bool allowPlay) {
    const std::string play = allowPlay ? " [--play]" : "";
    return "usage: " + program + " [--headless] [--config FILE]" + play +
           " [--status-interval MS]\n"
           "       " +
           program +
           " --list-devices\n"
           "       " +
           program + " --list-codecs [--rate HZ] [--channels N]\n";
}

std::string ExecutablePath(const std::string& fallback) {
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? fallback : path.string();
}

}  // namespace brivanta::common
