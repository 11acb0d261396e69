// The client program: headless, or (later) with its window.

#include <ctime>
#include <iostream>
#include <string>

#include "audio/ListOptions.h"
#include "audio/SystemDevices.h"
#include "client/ClientLink.h"
#include "client/ClientLog.h"
#include "client/MainClient.h"
#include "common/EventLoop.h"
#include "common/ProgramMain.h"
#include "common/SignalWaiter.h"

namespace {

using namespace brivanta;

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
        return common::kUsageError;
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
    common::RunLoopUntilSignal(
        loop, [&] { engine.FormClose(); }, [&] { engine.ReloadSettings(); });
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    common::SignalWaiter::BlockSignals();
    const auto line = common::ParseProgramArguments(argc, argv, "BrivantaClient", true);
    if (!line) {
        return common::kUsageError;
    }
    if (audio::RunListOption(*line, audio::WaveDirection::Output, std::cout)) {
        return 0;
    }
    if (!line->headless) {
        std::cerr << "BrivantaClient: the window is not built yet; run with --headless\n";
        return common::kUsageError;
    }
    return RunHeadless(*line, common::SettingsPathFor(*line, argv[0]));
}
