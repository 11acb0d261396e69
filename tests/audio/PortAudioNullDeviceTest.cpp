#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h>

#include "audio/DeviceList.h"
#include "audio/PortAudioDevices.h"
#include "client/WPlayer.h"
#include "common/Clock.h"
#include "server/WCapture.h"

namespace brivanta::audio {
namespace {

constexpr const char* kNullDevice = "brivanta_null";

// Runs PortAudio's real callback path on any machine: an ALSA null device,
// declared in a private ALSA configuration, takes the place of a sound card.
// The device runs on its own thread, so the test waits for it with a
// generous time-out.
class PortAudioNullDeviceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        home_ = std::filesystem::temp_directory_path() /
                ("brivanta_alsa_" + std::to_string(::getpid()));
        std::filesystem::create_directories(home_);
        std::ofstream(home_ / ".asoundrc") << "pcm." << kNullDevice << " { type null }\n";
        ::setenv("HOME", home_.c_str(), 1);  // ALSA reads ~/.asoundrc at initialisation
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(home_); }

    // Polls until done() holds, at most ten seconds.
    template <typename Done, typename Poll>
    static bool WaitFor(Done done, Poll poll) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            poll();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    common::SystemClock clock_;
    PortAudioBackend backend_{clock_};

  private:
    static inline std::filesystem::path home_;
};

TEST_F(PortAudioNullDeviceTest, PlayerReportsEveryBlockPlayedThroughTheDevice) {
    client::TWavePlayer player(backend_);
    if (!player.SelectByName(kNullDevice)) {
        GTEST_SKIP() << "ALSA offers no null device here";
    }
    ASSERT_EQ(player.Open(), 0);
    int reported = 0;
    player.OnBlockPlayed = [&](client::TWavePlayer&, const uint8_t*, int32_t, const uint8_t*) {
        ++reported;
    };
    const std::vector<uint8_t> block(4096, 0);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(player.Write(block.data(), static_cast<int32_t>(block.size())));
    }
    EXPECT_TRUE(WaitFor([&] { return reported == 20; }, [&] { player.Poll(); }));
    EXPECT_DOUBLE_EQ(player.Buffered(), 0.0);
    player.Close();
}

TEST_F(PortAudioNullDeviceTest, CaptureDeliversFullBuffersFromTheDevice) {
    server::TWaveCapture capture(backend_);
    int position = -1;
    for (int i = 0; i < capture.DeviceCount(); ++i) {
        position = capture.DeviceName(i) == kNullDevice ? i : position;
    }
    if (position < 0) {
        GTEST_SKIP() << "ALSA offers no null device here";
    }
    capture.SelectDevice(position);
    int delivered = 0;
    bool allFull = true;
    capture.OnData = [&](server::TWaveCapture&, uint8_t*, int32_t& size) {
        ++delivered;
        allFull = allFull && size == 4096;
    };
    ASSERT_EQ(capture.Start(), 0);
    EXPECT_TRUE(WaitFor([&] { return delivered >= 20; }, [&] { capture.Poll(); }));
    EXPECT_TRUE(allFull);
    EXPECT_EQ(capture.Stop(), 0);
}

TEST_F(PortAudioNullDeviceTest, StreamRefusesOtherSampleFormatsAndResetsCleanly) {
    int32_t id = -1;
    for (const WaveDeviceEntry& entry :
         ListUsableDevices(backend_, WaveDirection::Output, DeviceNameForm::AsReported)) {
        id = entry.name == kNullDevice ? entry.id : id;
    }
    if (id < 0) {
        GTEST_SKIP() << "ALSA offers no null device here";
    }
    const common::WaveFormatEx format24 = common::MakePcmFormat(44100, 2, 24);
    EXPECT_EQ(backend_.QueryFormat(WaveDirection::Output, id, format24), wave_error::kBadFormat);
    EXPECT_EQ(backend_.QueryFormat(WaveDirection::Output, id, kCdFormat), 0);
    std::unique_ptr<IWaveStream> stream;
    ASSERT_EQ(backend_.Open(WaveDirection::Output, id, kCdFormat, stream), 0);
    WaveBuffer block(4096);
    block.bytesUsed = 4096;
    EXPECT_EQ(stream->AddBuffer(block), 0);  // queued before the start
    EXPECT_EQ(stream->Reset(), 0);           // a stream never started resets too
    EXPECT_EQ(stream->Start(), 0);
    EXPECT_EQ(stream->Start(), 0);  // already running
    EXPECT_EQ(stream->Reset(), 0);
    EXPECT_FALSE(block.IsFinished());  // let go of, never played
    stream.reset();
}

}  // namespace
}  // namespace brivanta::audio
