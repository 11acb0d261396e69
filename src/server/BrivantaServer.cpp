// The server program: headless, or (later) with its window.

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "audio/CodecList.h"
#include "audio/DeviceList.h"
#include "audio/SystemDevices.h"
#include "common/CommandLine.h"
#include "common/EventLoop.h"
#include "common/ProfileSettings.h"
#include "common/SignalWaiter.h"
#include "server/MainServer.h"

namespace {

using namespace brivanta;

constexpr int kUsageError = 2;

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
        return kUsageError;
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
    common::SignalWaiter signals([&](int signal) {
        if (signal == SIGHUP) {
            loop.Post([&] { engine.ReloadSettings(); });
            return;
        }
        loop.Post([&] {
            engine.Close();
            loop.Quit();
        });
    });
    loop.Run();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    common::SignalWaiter::BlockSignals();
    std::string error;
    const auto line = common::ParseCommandLine({argv + 1, argv + argc}, false, error);
    if (!line) {
        std::cerr << "BrivantaServer: " << error << "\n"
                  << common::UsageText("BrivantaServer", false);
        return kUsageError;
    }
    if (line->listCodecs) {
        for (const std::string& codec : audio::ListCodecs(line->rate, line->channels)) {
            std::cout << codec << "\n";
        }
        return 0;
    }
    if (line->listDevices) {
        common::SystemClock clock;
        const auto backend = audio::MakeSystemBackend(clock, {});
        audio::WriteDeviceList(std::cout, *backend, audio::WaveDirection::Input);
        return 0;
    }
    if (!line->headless) {
        std::cerr << "BrivantaServer: the window is not built yet; run with --headless\n";
        return kUsageError;
    }
    const std::string settingsPath =
        line->configPath.empty() ? common::DefaultSettingsPath(common::ExecutablePath(argv[0]))
                                 : line->configPath;
    return RunHeadless(*line, settingsPath);
}
