// The server program: headless, or (later) with its window.

#include <cstdio>
#include <iostream>
#include <string>

#include "audio/ListOptions.h"
#include "audio/SystemDevices.h"
#include "common/EventLoop.h"
#include "common/ProgramMain.h"
#include "common/SignalWaiter.h"
#include "server/MainServer.h"

namespace {

using namespace brivanta;

std::string StatusLine(const server::TServerState& state) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "status {\"state\":\"%s\",\"listeners\":%d,\"queue\":%zu,\"seq\":%u}",
                  state.Online ? "online" : "down", state.Listeners, state.Queue,
                  static_cast<unsigned>(state.Seq));
    return text;
}

int RunHeadless(const common::CommandLine& line, const std::string& settingsPath) {
    server::TSetting check;
    bool author = false;
    const auto status = server::ReadSettings(settingsPath, check, author);
    if (!status.ok) {
        std::cerr << "BrivantaServer: " << status.error << "\n";
        return common::kUsageError;
    }
    common::SystemClock clock;
    common::EventLoop loop(clock);
    const auto backend = audio::MakeSystemBackend(clock, {});
    server::TBrivantaServer::Options options;
    options.settingsPath = settingsPath;
    options.onLogShown = [](const server::TLogEntry& entry) {
        std::cout << server::TServerLog::FormatLine(entry) << std::endl;
    };
    server::TBrivantaServer engine(loop, *backend, options);
    loop.SetErrorHandler([&](const std::string& text) { engine.OutLog(text); });
    loop.Post([&] { engine.Start(); });
    if (line.statusIntervalMs > 0) {
        loop.AddTimer(line.statusIntervalMs,
                      [&] { std::cout << StatusLine(engine.State()) << std::endl; });
    }
    common::RunLoopUntilSignal(
        loop, [&] { engine.Close(); }, [&] { engine.ReloadSettings(); });
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    common::SignalWaiter::BlockSignals();
    const auto line = common::ParseProgramArguments(argc, argv, "BrivantaServer", false);
    if (!line) {
        return common::kUsageError;
    }
    if (audio::RunListOption(*line, audio::WaveDirection::Input, std::cout)) {
        return 0;
    }
    if (!line->headless) {
        std::cerr << "BrivantaServer: the window is not built yet; run with --headless\n";
        return common::kUsageError;
    }
    return RunHeadless(*line, common::SettingsPathFor(*line, argv[0]));
}
