#include "server/WCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "audio/DeviceFake.h"
#include "audio/VirtualDevices.h"
#include "common/Clock.h"

namespace brivanta::server {
namespace {

using audio::testing::FakeWaveBackend;
using audio::testing::UsableDevice;
using ::testing::ElementsAre;

std::vector<uint8_t> Frames16(const std::vector<std::pair<int16_t, int16_t>>& frames) {
    std::vector<uint8_t> bytes(frames.size() * 4);
    for (size_t i = 0; i < frames.size(); ++i) {
        std::memcpy(&bytes[i * 4], &frames[i].first, 2);
        std::memcpy(&bytes[i * 4 + 2], &frames[i].second, 2);
    }
    return bytes;
}

struct Delivered {
    std::vector<uint8_t> data;
};

struct WCaptureTest : ::testing::Test {
    FakeWaveBackend backend;
    std::vector<Delivered> delivered;
    std::vector<std::string> logLines;

    WCaptureTest() { backend.inputs = {UsableDevice(7, "Line in"), UsableDevice(9, "Mic")}; }

    std::unique_ptr<TWaveCapture> MakeCapture() {
        auto capture = std::make_unique<TWaveCapture>(
            backend, [this](const std::string& line) { logLines.push_back(line); });
        capture->OnData = [this](TWaveCapture&, uint8_t* data, int32_t& size) {
            delivered.push_back({std::vector<uint8_t>(data, data + size)});
        };
        return capture;
    }
};

TEST_F(WCaptureTest, ListsOnlyCdCapableDevicesWithTrimmedShortNames) {
    backend.inputs = {
        UsableDevice(3, "  Line in  "),
        {4, "Mono only", false},
        UsableDevice(8, "A device name that is much longer than thirty-two"),
    };
    TWaveCapture capture(backend);
    ASSERT_EQ(capture.DeviceCount(), 2);
    EXPECT_EQ(capture.DeviceName(0), "Line in");
    EXPECT_EQ(capture.DeviceName(1), "A device name that is much longe");
    EXPECT_EQ(capture.DeviceName(2), "");
    EXPECT_EQ(capture.DeviceName(-1), "");
    EXPECT_EQ(capture.DeviceIndex(), 0);

    capture.SelectDevice(1);
    capture.SelectDevice(2);  // outside: ignored
    capture.SelectDevice(-1);
    EXPECT_EQ(capture.DeviceIndex(), 1);
    ASSERT_EQ(capture.Start(), 0);
    EXPECT_EQ(backend.lastDeviceId, 8);  // the device number, not the list position
}

TEST_F(WCaptureTest, WithoutDevicesThereIsNoSelectionAndStartRefuses) {
    backend.inputs = {{1, "Mono only", false}};
    TWaveCapture capture(backend);
    EXPECT_EQ(capture.DeviceCount(), 0);
    EXPECT_EQ(capture.DeviceIndex(), -1);
    EXPECT_EQ(capture.Start(), -1);
    EXPECT_TRUE(backend.calls.empty());
}

TEST_F(WCaptureTest, QueueLengthIsBytesDivBlockSizePlusOne) {
    TWaveCapture capture(backend);
    EXPECT_EQ(capture.BlockSize, 4096);
    EXPECT_EQ(capture.BlockCount(), 11);  // Create uses 44100 bytes
    struct Case {
        int32_t blockSize;
        int32_t bytes;
        int32_t count;
    };
    for (const Case& c : {Case{4096, 44100, 11}, Case{2048, 176400, 87}, Case{4096, 352800, 87},
                          Case{8192, 0, 1}, Case{1024, 1024, 2}}) {
        capture.BlockSize = c.blockSize;
        capture.SetQueueLength(c.bytes);
        EXPECT_EQ(capture.BlockCount(), c.count) << c.blockSize << " " << c.bytes;
    }
    capture.BlockSize = 0;  // no division by zero: the count stays
    capture.SetQueueLength(1000);
    EXPECT_EQ(capture.BlockCount(), 2);
}

TEST_F(WCaptureTest, StartQueriesTheFormatFirstThenOpensAndStartsWithNoBufferQueued) {
    auto capture = MakeCapture();
    capture->SamplesPerSec = 32000;
    capture->Mono = 1;
    ASSERT_EQ(capture->Start(), 0);
    EXPECT_THAT(backend.calls, ElementsAre("query", "open", "start"));
    EXPECT_EQ(backend.lastFormat, common::MakePcmFormat(32000, 1, 16));
    EXPECT_EQ(backend.lastFormat.nBlockAlign, 2);
    EXPECT_EQ(backend.lastFormat.nAvgBytesPerSec, 64000u);
    EXPECT_TRUE(capture->Active());
    EXPECT_TRUE(backend.held.empty());
    EXPECT_EQ(capture->Start(), -1);  // already active
}

TEST_F(WCaptureTest, StartFailuresReturnTheDeviceCodeAndLeaveTheDeviceClosed) {
    struct Case {
        int query, open, start;
        int result;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases = {
        {32, 0, 0, 32, {"query"}},
        {0, 4, 0, 4, {"query", "open"}},
        {0, 0, -9999, -9999, {"query", "open", "start", "close"}},
    };
    for (const Case& c : cases) {
        backend.calls.clear();
        backend.queryResult = c.query;
        backend.openResult = c.open;
        backend.startResult = c.start;
        auto capture = MakeCapture();
        EXPECT_EQ(capture->Start(), c.result);
        EXPECT_FALSE(capture->Active());
        EXPECT_FALSE(backend.open);
        EXPECT_EQ(backend.calls, c.calls);
        capture->Poll();  // inactive: nothing happens
        EXPECT_TRUE(delivered.empty());
    }
    backend.calls.clear();
    backend.startResult = 0;
    auto capture = MakeCapture();
    capture->BlockSize = 0;
    EXPECT_EQ(capture->Start(), -1);
    EXPECT_TRUE(backend.calls.empty());
}

TEST_F(WCaptureTest, PollDeliversFilledBuffersInRecordingOrderAndRefills) {
    auto capture = MakeCapture();
    capture->BlockSize = 8;
    capture->SetQueueLength(24);  // 4 buffers
    ASSERT_EQ(capture->Start(), 0);
    capture->Poll();
    ASSERT_EQ(backend.held.size(), 4u);
    for (audio::WaveBuffer* buffer : backend.held) {
        EXPECT_EQ(buffer->data, std::vector<uint8_t>(8, 0));
    }
    EXPECT_TRUE(delivered.empty());

    backend.RecordNext(1);
    backend.RecordNext(std::vector<uint8_t>{2, 2, 2, 2});  // a short recording
    backend.RecordNext(3);
    capture->Poll();
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[0].data, std::vector<uint8_t>(8, 1));
    EXPECT_EQ(delivered[1].data, std::vector<uint8_t>(4, 2));
    EXPECT_EQ(delivered[2].data, std::vector<uint8_t>(8, 3));
    EXPECT_EQ(capture->QueueLength(), 4);
    EXPECT_EQ(backend.held.size(), 4u);
    EXPECT_EQ(backend.handedOver.size(), 7u);

    capture->Poll();  // nothing new
    EXPECT_EQ(delivered.size(), 3u);
}

TEST_F(WCaptureTest, PeaksFollowTheBlocksOfTheLatestDeliveringPoll) {
    auto capture = MakeCapture();
    capture->BlockSize = 8;
    ASSERT_EQ(capture->Start(), 0);
    capture->Poll();
    EXPECT_DOUBLE_EQ(capture->LevelLeftDb(), -90.3);  // nothing measured yet

    backend.RecordNext(Frames16({{100, -200}, {-300, 50}}));
    backend.RecordNext(Frames16({{1000, 10}, {0, 0}}));
    capture->Poll();  // the second block raises left only
    EXPECT_EQ(capture->PeakLeft(), 1000);
    EXPECT_EQ(capture->PeakRight(), 199);

    capture->Poll();  // no data: unchanged
    EXPECT_EQ(capture->PeakLeft(), 1000);

    backend.RecordNext(Frames16({{-32768, 0}, {0, 0}}));
    capture->Poll();  // a new poll starts afresh
    EXPECT_EQ(capture->PeakLeft(), 32767);
    EXPECT_EQ(capture->PeakRight(), 0);
    EXPECT_DOUBLE_EQ(capture->LevelLeftDb(), 20.0 * std::log10(32767.0 / 32768.0));
    EXPECT_DOUBLE_EQ(capture->LevelRightDb(), -90.3);

    EXPECT_EQ(capture->Stop(), 0);
    EXPECT_EQ(capture->PeakLeft(), 0);
}

TEST_F(WCaptureTest, PeaksUseTheSizeTheHandlerLeftAndMonoUsesTheLargerSide) {
    auto capture = MakeCapture();
    capture->BlockSize = 8;
    capture->Mono = 1;
    capture->OnData = [](TWaveCapture&, uint8_t*, int32_t& size) { size -= 4; };
    ASSERT_EQ(capture->Start(), 0);
    capture->Poll();
    // Mono samples alternate: the loud one sits in the second position; the
    // last frame, cut off by the handler, is louder still.
    backend.RecordNext(Frames16({{10, -5000}, {32000, 32000}}));
    capture->Poll();
    EXPECT_EQ(capture->PeakLeft(), 4999);
    EXPECT_EQ(capture->PeakRight(), 4999);

    capture->OnData = [](TWaveCapture&, uint8_t*, int32_t& size) { size = 1000; };
    backend.RecordNext(Frames16({{7, 8}, {9, 6}}));
    capture->Poll();  // a handler cannot make the block longer than recorded
    EXPECT_EQ(capture->PeakLeft(), 9);
}

TEST_F(WCaptureTest, EightBitPeaksAndLevels) {
    auto capture = MakeCapture();
    capture->BitsPerSample = 8;
    capture->BlockSize = 4;
    ASSERT_EQ(capture->Start(), 0);
    EXPECT_EQ(backend.lastFormat, common::MakePcmFormat(44100, 2, 8));
    capture->Poll();
    backend.RecordNext(std::vector<uint8_t>{128, 0, 200, 127});
    capture->Poll();
    EXPECT_EQ(capture->PeakLeft(), 72);
    EXPECT_EQ(capture->PeakRight(), 127);
    EXPECT_DOUBLE_EQ(capture->LevelLeftDb(), 20.0 * std::log10(72.0 / 128.0));
}

TEST_F(WCaptureTest, StopDiscardsUndeliveredDataAndClosesTheDevice) {
    auto capture = MakeCapture();
    EXPECT_EQ(capture->Stop(), 0);  // inactive: nothing happens
    EXPECT_TRUE(backend.calls.empty());

    ASSERT_EQ(capture->Start(), 0);
    capture->Poll();
    backend.RecordNext(5);
    EXPECT_EQ(capture->Stop(), 0);
    EXPECT_THAT(backend.calls, ElementsAre("query", "open", "start", "reset", "close"));
    EXPECT_FALSE(capture->Active());
    EXPECT_EQ(capture->QueueLength(), 0);
    capture->Poll();
    EXPECT_TRUE(delivered.empty());
}

TEST_F(WCaptureTest, NewBlockSizeAppliesToTheBuffersQueuedFromThenOn) {
    auto capture = MakeCapture();
    capture->BlockSize = 8;
    capture->SetQueueLength(8);  // 2 buffers
    ASSERT_EQ(capture->Start(), 0);
    capture->Poll();
    capture->BlockSize = 16;
    backend.RecordNext(1);
    capture->Poll();
    ASSERT_EQ(backend.held.size(), 2u);
    EXPECT_EQ(backend.held[0]->data.size(), 8u);
    EXPECT_EQ(backend.held[1]->data.size(), 16u);
    EXPECT_EQ(capture->BlockCount(), 2);

    capture->BlockSize = 0;  // nonsense: nothing is queued, nothing breaks
    backend.RecordNext(2);
    capture->Poll();
    EXPECT_EQ(capture->QueueLength(), 1);
    EXPECT_EQ(delivered.size(), 2u);
}

TEST_F(WCaptureTest, RefusedBufferStopsTheRefillUntilTheNextPoll) {
    auto capture = MakeCapture();
    ASSERT_EQ(capture->Start(), 0);
    backend.acceptsLeft = 3;
    backend.addResult = 7;
    capture->Poll();
    EXPECT_EQ(capture->QueueLength(), 3);
    backend.acceptsLeft = 100;
    capture->Poll();
    EXPECT_EQ(capture->QueueLength(), capture->BlockCount());
}

TEST_F(WCaptureTest, HandlerFailureEndsThePollAndLaterBuffersStayQueued) {
    auto capture = MakeCapture();
    capture->BlockSize = 4;
    int calls = 0;
    capture->OnData = [&](TWaveCapture& sender, uint8_t*, int32_t&) {
        ++calls;
        sender.Poll();  // re-entry is refused
        EXPECT_TRUE(sender.Busy());
        throw std::runtime_error("plug-in crashed");
    };
    ASSERT_EQ(capture->Start(), 0);
    capture->Poll();
    backend.RecordNext(1);
    backend.RecordNext(2);
    capture->Poll();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(capture->Busy());
    EXPECT_THAT(logLines, ElementsAre("Capture poll failed: plug-in crashed"));
    EXPECT_EQ(capture->QueueLength(), capture->BlockCount() - 2);  // no refill after the failure

    capture->OnData = nullptr;
    capture->Poll();
    EXPECT_EQ(capture->QueueLength(), capture->BlockCount());
}

TEST_F(WCaptureTest, HandlerMayStopTheCapture) {
    auto capture = MakeCapture();
    capture->BlockSize = 4;
    int calls = 0;
    capture->OnData = [&](TWaveCapture& sender, uint8_t*, int32_t&) {
        ++calls;
        sender.Stop();
    };
    ASSERT_EQ(capture->Start(), 0);
    capture->Poll();
    backend.RecordNext(1);
    backend.RecordNext(2);
    capture->Poll();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(capture->Active());
    EXPECT_FALSE(backend.open);
}

// The real path: the virtual tone through the capture, on a virtual clock.
TEST(WCaptureVirtualTest, CapturesTheVirtualToneAtOneKilohertzAndMinusTwelveDbfs) {
    common::VirtualClock clock;
    audio::VirtualBackend backend(clock, audio::VirtualDeviceConfig{});
    TWaveCapture capture(backend);
    ASSERT_EQ(capture.DeviceName(0), "Virtual tone");
    std::vector<int16_t> samples;
    capture.OnData = [&](TWaveCapture&, uint8_t* data, int32_t& size) {
        const size_t first = samples.size();
        samples.resize(first + size / 2);
        std::memcpy(&samples[first], data, size);
    };
    ASSERT_EQ(capture.Start(), 0);
    double lowestLeft = 0;
    double highestLeft = -100;
    for (int ms = 0; ms < 2000; ms += 10) {
        capture.Poll();
        clock.Advance(10);
        if (capture.PeakLeft() > 0) {
            lowestLeft = std::min(lowestLeft, capture.LevelLeftDb());
            highestLeft = std::max(highestLeft, capture.LevelLeftDb());
            EXPECT_EQ(capture.PeakLeft(), capture.PeakRight());
        }
    }
    capture.Poll();
    // Two seconds of stereo, less the block still being recorded.
    ASSERT_GE(samples.size(), 2u * (88200 - 1024));
    EXPECT_NEAR(highestLeft, -12.0, 0.05);
    EXPECT_NEAR(lowestLeft, -12.0, 0.05);

    // One second of the left channel: 2000 zero crossings make 1 kHz.
    int crossings = 0;
    for (size_t frame = 1; frame < 44100; ++frame) {
        const int16_t before = samples[2 * (frame - 1)];
        const int16_t now = samples[2 * frame];
        crossings += (before < 0) != (now < 0) ? 1 : 0;
        EXPECT_EQ(samples[2 * frame], samples[2 * frame + 1]);
    }
    EXPECT_NEAR(crossings, 2000, 2);
    EXPECT_EQ(capture.DeviceCounters().overruns, 0u);
    EXPECT_EQ(capture.Stop(), 0);
}

}  // namespace
}  // namespace brivanta::server
