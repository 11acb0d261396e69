#pragma once

#include <functional>
#include <optional>
#include <string>

#include "common/CommandLine.h"
#include "common/EventLoop.h"

namespace brivanta::common {

// The exit code of a bad command line or unreadable settings.
inline constexpr int kUsageError = 2;

// Parses a program's arguments; on a bad one prints the message and the usage
// on stderr and returns nothing.
std::optional<CommandLine> ParseProgramArguments(int argc, char** argv, const std::string& program,
                                                 bool allowPlay);

// The settings file: --config, or the one beside the executable.
std::string SettingsPathFor(const CommandLine& line, const char* argv0);

// Drives the loop on the calling thread until SIGINT or SIGTERM, which run
// close on the loop and end it; SIGHUP runs reload on the loop. Needs
// SignalWaiter::BlockSignals at the start of main.
void RunLoopUntilSignal(EventLoop& loop, const std::function<void()>& close,
                        const std::function<void()>& reload);

}  // namespace brivanta::common
