#include "audio/PortAudioDevices.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/Clock.h"

namespace brivanta::audio {
namespace {

// Runs on any machine, with or without a sound card: whatever the machine
// has, listing and refusals are result codes, never crashes.
TEST(PortAudioDevicesTest, ListsGracefullyAndRefusesUnknownDevices) {
    common::VirtualClock clock;
    std::vector<std::string> log;
    PortAudioBackend backend(clock, [&](const std::string& line) { log.push_back(line); });
    const std::vector<WaveDeviceInfo> inputs = backend.Devices(WaveDirection::Input);
    const std::vector<WaveDeviceInfo> outputs = backend.Devices(WaveDirection::Output);
    clock.Advance(5000);  // due for a rescan, which keeps the numbers
    const std::vector<WaveDeviceInfo> again = backend.Devices(WaveDirection::Input);
    ASSERT_EQ(again.size(), inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(again[i].id, inputs[i].id);
        EXPECT_EQ(again[i].name, inputs[i].name);
    }

    std::unique_ptr<IWaveStream> stream;
    EXPECT_EQ(backend.QueryFormat(WaveDirection::Input, 100000, kCdFormat),
              wave_error::kBadDeviceId);
    EXPECT_EQ(backend.Open(WaveDirection::Output, -3, kCdFormat, stream), wave_error::kBadDeviceId);
    EXPECT_EQ(stream, nullptr);
    (void)outputs;
}

}  // namespace
}  // namespace brivanta::audio
