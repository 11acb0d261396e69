#include "audio/DeviceList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "audio/DeviceFake.h"
#include "audio/SystemDevices.h"
#include "common/Clock.h"

namespace brivanta::audio {
namespace {

using testing::FakeWaveBackend;
using ::testing::HasSubstr;
using testing::UsableDevice;

TEST(DeviceListTest, NamesAreCutAtThirtyTwoCharactersAndTrimmedOnRequest) {
    struct Case {
        std::string reported;
        DeviceNameForm form;
        std::string listed;
    };
    const std::string cyrillic = "Микрофон ";  // 9 characters, 17 bytes
    const std::vector<Case> cases = {
        {"  Line in \t", DeviceNameForm::Trimmed, "Line in"},
        {"  Line in \t", DeviceNameForm::AsReported, "  Line in \t"},
        {std::string(40, 'x'), DeviceNameForm::AsReported, std::string(32, 'x')},
        {"  " + std::string(40, 'y'), DeviceNameForm::Trimmed, std::string(32, 'y')},
        // The cut falls after a blank: the listed name does not end in one.
        {std::string(31, 'z') + " tail", DeviceNameForm::Trimmed, std::string(31, 'z')},
        {cyrillic + cyrillic + cyrillic + cyrillic, DeviceNameForm::AsReported,
         cyrillic + cyrillic + cyrillic + "Микро"},
        {"", DeviceNameForm::Trimmed, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ListedDeviceName(c.reported, c.form), c.listed) << c.reported;
    }
}

TEST(DeviceListTest, ListsOnlyCdCapableDevicesOneNameALine) {
    FakeWaveBackend backend;
    backend.inputs = {
        UsableDevice(1, " Line in "), {2, "Telephone", false}, UsableDevice(4, "Mic")};
    backend.outputs = {UsableDevice(0, "Speakers ")};
    const std::vector<WaveDeviceEntry> entries =
        ListUsableDevices(backend, WaveDirection::Input, DeviceNameForm::Trimmed);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].id, 4);

    std::ostringstream capture;
    WriteDeviceList(capture, backend, WaveDirection::Input);
    EXPECT_EQ(capture.str(), "Line in\nMic\n");
    std::ostringstream output;
    WriteDeviceList(output, backend, WaveDirection::Output);
    EXPECT_EQ(output.str(), "Speakers \n");  // as the player's refreshed list names it
}

TEST(DeviceListTest, CombinedBackendNumbersDevicesByPart) {
    auto first = std::make_unique<FakeWaveBackend>();
    auto second = std::make_unique<FakeWaveBackend>();
    first->inputs = {UsableDevice(3, "A")};
    second->inputs = {UsableDevice(0, "B"), UsableDevice(2, "C")};
    FakeWaveBackend& secondRef = *second;
    std::vector<std::unique_ptr<IWaveBackend>> parts;
    parts.push_back(std::move(first));
    parts.push_back(std::move(second));
    CombinedBackend combined(std::move(parts));

    const std::vector<WaveDeviceInfo> devices = combined.Devices(WaveDirection::Input);
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].id, 3);
    EXPECT_EQ(devices[2].id, CombinedBackend::kIdsPerPart + 2);
    EXPECT_EQ(devices[2].name, "C");

    std::unique_ptr<IWaveStream> stream;
    EXPECT_EQ(combined.Open(WaveDirection::Input, devices[2].id, kCdFormat, stream), 0);
    EXPECT_EQ(secondRef.lastDeviceId, 2);
    EXPECT_EQ(
        combined.QueryFormat(WaveDirection::Input, 5 * CombinedBackend::kIdsPerPart, kCdFormat),
        wave_error::kBadDeviceId);
    EXPECT_EQ(combined.Open(WaveDirection::Input, -1, kCdFormat, stream), wave_error::kBadDeviceId);
}

// This machine may have no sound card: both lists still hold the virtual devices.
TEST(DeviceListTest, SystemDeviceListsHoldTheVirtualDevices) {
    ::setenv("BRIVANTA_WAV_OUT", "/tmp/brivanta_device_list_test.wav", 1);
    ::unsetenv("BRIVANTA_WAV_IN");
    common::SystemClock clock;
    std::vector<std::string> log;
    auto backend = MakeSystemBackend(clock, [&](const std::string& line) { log.push_back(line); });
    std::ostringstream capture;
    WriteDeviceList(capture, *backend, WaveDirection::Input);
    EXPECT_THAT(capture.str(), HasSubstr("Virtual tone\nVirtual silence\n"));
    EXPECT_THAT(capture.str(), ::testing::Not(HasSubstr("Virtual WAV input")));
    std::ostringstream output;
    WriteDeviceList(output, *backend, WaveDirection::Output);
    EXPECT_THAT(output.str(), HasSubstr("Virtual null output\nVirtual WAV output\n"));
    ::unsetenv("BRIVANTA_WAV_OUT");
}

TEST(DeviceListTest, ResultCodesHaveTexts) {
    EXPECT_EQ(WaveErrorText(0), "success");
    EXPECT_EQ(WaveErrorText(wave_error::kBadFormat), "format not supported");
    EXPECT_EQ(WaveErrorText(wave_error::kAllocated), "device is in use");
    EXPECT_EQ(WaveErrorText(-9997), "Invalid sample rate");  // PortAudio's own
    EXPECT_EQ(WaveErrorText(99), "error 99");
}

}  // namespace
}  // namespace brivanta::audio
