#include "common/ProgramMain.h"

#include <csignal>
#include <iostream>
#include <vector>

#include "common/ProfileSettings.h"
#include "common/SignalWaiter.h"

namespace brivanta::common {

std::optional<CommandLine> ParseProgramArguments(int argc, char** argv, const std::string& program,
                                                 bool allowPlay) {
    std::string error;
    auto line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), allowPlay, error);
    if (!line) {
        std::cerr << program << ": " << error << "\n" << UsageText(program, allowPlay);
    }
    return line;
}

std::string SettingsPathFor(const CommandLine& line, const char* argv0) {
    return line.configPath.empty() ? DefaultSettingsPath(ExecutablePath(argv0)) : line.configPath;
}

void RunLoopUntilSignal(EventLoop& loop, const std::function<void()>& close,
                        const std::function<void()>& reload) {
    SignalWaiter signals([&](int signal) {
        if (signal == SIGHUP) {
            loop.Post(reload);
            return;
        }
        loop.Post([&] {
            close();
            loop.Quit();
        });
    });
    loop.Run();
}

}  // namespace brivanta::common
