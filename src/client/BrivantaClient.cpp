// The client program: headless, or (later) with its window.

#include <csignal>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "audio/CodecList.h"
#include "audio/DeviceList.h"
#include "audio/SystemDevices.h"
#include "client/ClientLink.h"
#include "client/ClientLog.h"
#include "client/MainClient.h"
#include "common/CommandLine.h"
#include "common/EventLoop.h"
#include "common/ProfileSettings.h"
#include "common/SignalWaiter.h"

namespace {

using namespace brivanta;

constexpr int kUsageError = 2;

// Sets the computer's UTC clock to a day count; needs a privilege the client
// may lack, and then does nothing.
void SetSystemUtc(common::DayCount days) {
    const int64_t unixMs = common::UnixMsFromDayCount(days);
    timespec time{};
    time.tv_sec = static_cast<time_t>(unixMs / 1000);
    time.tv_nsec = static_cast<long>(unixMs % 1000) * 1000000L;
    clock_settime(CLOCK_REALTIME, &time);
}

int RunHeadless(const common::CommandLine& line, const std::string& settingsPath) {
    client::TSetting settings;
    const auto status = client::ReadSettings(settingsPath, settings);
    if (!status.ok) {
        std::cerr << "BrivantaClient: " << status.error << "\n";
        return kUsageError;
    }
    common::SystemClock clock;
    common::EventLoop loop(clock);
    const auto devices = audio::MakeSystemBackend(
        clock, [](const std::string& text) { std::cout << text << std::endl; });
    client::NullClientLink link;
    client::TClientLog log(
        clock, [](const client::TLogEntry& entry) { std::cout << entry.Line() << std::endl; });
    client::ClientEnvironment environment{
        clock, *devices, link, log, audio::msacm::CreateCodecLayer(), settingsPath, SetSystemUtc};
    client::TBrivantaClient engine(loop, environment);
    engine.FormCreate(settings);
    if (line.play) {
        engine.RequestPlay();
    }
    if (line.statusIntervalMs > 0) {
        loop.AddTimer(line.statusIntervalMs, [&] {
            std::cout << "status " << client::StatusJson(engine.Status()) << std::endl;
        });
    }
    common::SignalWaiter signals([&](int signal) {
        if (signal == SIGHUP) {
            loop.Post([&] { engine.ReloadSettings(); });
            return;
        }
        loop.Post([&] {
            engine.FormClose();
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
    const auto line = common::ParseCommandLine({argv + 1, argv + argc}, true, error);
    if (!line) {
        std::cerr << "BrivantaClient: " << error << "\n"
                  << common::UsageText("BrivantaClient", true);
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
        const auto devices = audio::MakeSystemBackend(clock, {});
        audio::WriteDeviceList(std::cout, *devices, audio::WaveDirection::Output);
        return 0;
    }
    if (!line->headless) {
        std::cerr << "BrivantaClient: the window is not built yet; run with --headless\n";
        return kUsageError;
    }
    const std::string settingsPath =
        line->configPath.empty() ? common::DefaultSettingsPath(common::ExecutablePath(argv[0]))
                                 : line->configPath;
    return RunHeadless(*line, settingsPath);
}
