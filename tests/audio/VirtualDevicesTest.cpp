#include "audio/VirtualDevices.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>

#include <unistd.h>

#include "audio/WavReader.h"
#include "audio/WavWriter.h"
#include "common/Clock.h"

namespace brivanta::audio {
namespace {

using ::testing::ElementsAre;

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("brivanta_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

std::vector<std::string> Names(const std::vector<WaveDeviceInfo>& devices) {
    std::vector<std::string> names;
    for (const WaveDeviceInfo& device : devices) {
        EXPECT_TRUE(device.supportsCdFormat) << device.name;
        names.push_back(device.name);
    }
    return names;
}

std::vector<int16_t> Samples(const WaveBuffer& buffer) {
    std::vector<int16_t> samples(buffer.bytesUsed / 2);
    std::memcpy(samples.data(), buffer.data.data(), samples.size() * 2);
    return samples;
}

void WriteWav(const std::string& path, uint32_t rate, int channels,
              const std::vector<int16_t>& samples) {
    WavWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Create(path, rate, channels, error)) << error;
    ASSERT_TRUE(writer.Append(samples.data(), samples.size()));
}

struct VirtualDevicesTest : ::testing::Test {
    common::VirtualClock clock{0};
    std::vector<std::string> log;
    std::vector<std::string> cleanUp;

    ~VirtualDevicesTest() override {
        for (const std::string& path : cleanUp) {
            std::filesystem::remove(path);
        }
    }

    std::unique_ptr<VirtualBackend> MakeBackend(VirtualDeviceConfig config = {}) {
        return std::make_unique<VirtualBackend>(
            clock, std::move(config), [this](const std::string& line) { log.push_back(line); });
    }

    std::unique_ptr<IWaveStream> OpenStarted(IWaveBackend& backend, WaveDirection direction,
                                             int32_t id, const common::WaveFormatEx& format) {
        std::unique_ptr<IWaveStream> stream;
        EXPECT_EQ(backend.Open(direction, id, format, stream), 0);
        EXPECT_EQ(stream->Start(), 0);
        return stream;
    }

    // Records for the given time with the queue kept full of buffers of
    // frames frames, polling every 10 ms like the capture; the buffers filled.
    size_t RecordFor(IWaveStream& stream, int64_t ms, size_t frameBytes, size_t frames) {
        std::deque<std::unique_ptr<WaveBuffer>> queue;
        size_t filled = 0;
        for (int64_t t = 0; t <= ms; t += 10) {
            stream.Pump();
            while (!queue.empty() && queue.front()->IsFinished()) {
                EXPECT_EQ(queue.front()->bytesUsed, frames * frameBytes);
                queue.pop_front();
                ++filled;
            }
            while (queue.size() < 4) {
                queue.push_back(std::make_unique<WaveBuffer>(frames * frameBytes));
                EXPECT_EQ(stream.AddBuffer(*queue.back()), 0);
            }
            if (t < ms) {
                clock.Advance(10);
            }
        }
        stream.Reset();
        return filled;
    }
};

TEST_F(VirtualDevicesTest, ListsTheFixedDevicesAndTheFileDevicesWhenConfigured) {
    auto plain = MakeBackend();
    EXPECT_THAT(Names(plain->Devices(WaveDirection::Input)),
                ElementsAre("Virtual tone", "Virtual silence"));
    EXPECT_THAT(Names(plain->Devices(WaveDirection::Output)), ElementsAre("Virtual null output"));

    const std::string in = TempPath("list_in.wav");
    cleanUp.push_back(in);
    WriteWav(in, 44100, 2, {1, 2});
    auto withFiles = MakeBackend({in, TempPath("list_out.wav"), 0.0});
    EXPECT_THAT(Names(withFiles->Devices(WaveDirection::Input)),
                ElementsAre("Virtual tone", "Virtual silence", "Virtual WAV input"));
    EXPECT_THAT(Names(withFiles->Devices(WaveDirection::Output)),
                ElementsAre("Virtual null output", "Virtual WAV output"));
    EXPECT_TRUE(log.empty());
}

TEST_F(VirtualDevicesTest, WavInputThatIsNotPcmIsNotListedAndLoggedOnce) {
    const std::string bad = TempPath("bad.wav");
    cleanUp.push_back(bad);
    // A floating-point WAV file (format tag 3).
    const uint8_t header[] = {'R', 'I', 'F',  'F',  36,  0,   0,    0,    'W', 'A', 'V',
                              'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   3,   0,
                              1,   0,   0x44, 0xAC, 0,   0,   0x10, 0xB1, 2,   0,   4,
                              0,   32,  0,    'd',  'a', 't', 'a',  0,    0,   0,   0};
    std::FILE* file = std::fopen(bad.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(header, 1, sizeof header, file);
    std::fclose(file);
    auto backend = MakeBackend({bad, "", 0.0});
    EXPECT_EQ(backend->Devices(WaveDirection::Input).size(), 2u);
    EXPECT_EQ(backend->Devices(WaveDirection::Input).size(), 2u);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_THAT(log[0], ::testing::EndsWith("not integer PCM audio"));
}

TEST_F(VirtualDevicesTest, FormatQueryAcceptsPcmOfEightOrSixteenBits) {
    auto backend = MakeBackend();
    struct Case {
        common::WaveFormatEx format;
        int result;
    };
    common::WaveFormatEx notPcm = kCdFormat;
    notPcm.wFormatTag = 2;
    const std::vector<Case> cases = {
        {kCdFormat, 0},
        {common::MakePcmFormat(48000, 1, 16), 0},
        {common::MakePcmFormat(22050, 2, 8), 0},
        {common::MakePcmFormat(44100, 2, 24), wave_error::kBadFormat},
        {common::MakePcmFormat(4000, 2, 16), wave_error::kBadFormat},
        {common::MakePcmFormat(44100, 0, 16), wave_error::kBadFormat},
        {notPcm, wave_error::kBadFormat},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(backend->QueryFormat(WaveDirection::Input, VirtualBackend::kToneId, c.format),
                  c.result);
    }
    EXPECT_EQ(backend->QueryFormat(WaveDirection::Input, 9, kCdFormat), wave_error::kBadDeviceId);
    EXPECT_EQ(backend->QueryFormat(WaveDirection::Output, VirtualBackend::kWavOutputId, kCdFormat),
              wave_error::kBadDeviceId);  // no path configured
}

TEST_F(VirtualDevicesTest, InputDeliversTheNominalRateOfTheClock) {
    auto backend = MakeBackend();
    auto stream =
        OpenStarted(*backend, WaveDirection::Input, VirtualBackend::kSilenceId, kCdFormat);
    // Buffers of 10 ms: ten seconds of clock fill exactly a thousand.
    EXPECT_EQ(RecordFor(*stream, 10000, 4, 441), 1000u);
    EXPECT_EQ(stream->Counters().overruns, 0u);
}

TEST_F(VirtualDevicesTest, SkewFromTheEnvironmentMakesDevicesRunFastOrSlow) {
    ::setenv("BRIVANTA_DEVICE_SKEW_PPM", "1000", 1);
    auto fast = MakeBackend(VirtualDeviceConfig::FromEnvironment({}));
    ::setenv("BRIVANTA_DEVICE_SKEW_PPM", "-1000", 1);
    auto slow = MakeBackend(VirtualDeviceConfig::FromEnvironment({}));
    ::unsetenv("BRIVANTA_DEVICE_SKEW_PPM");

    // 0.1 % more (or fewer) samples per second of monotonic time: 441441 or
    // 440559 frames in ten seconds, 1001 or 999 buffers of 441 frames.
    auto fastInput = OpenStarted(*fast, WaveDirection::Input, VirtualBackend::kToneId, kCdFormat);
    EXPECT_EQ(RecordFor(*fastInput, 10000, 4, 441), 1001u);
    auto slowInput = OpenStarted(*slow, WaveDirection::Input, VirtualBackend::kToneId, kCdFormat);
    EXPECT_EQ(RecordFor(*slowInput, 10000, 4, 441), 999u);

    // The output side plays at the same skewed rate.
    auto output =
        OpenStarted(*fast, WaveDirection::Output, VirtualBackend::kNullOutputId, kCdFormat);
    std::vector<std::unique_ptr<WaveBuffer>> blocks;
    for (int i = 0; i < 1100; ++i) {
        blocks.push_back(std::make_unique<WaveBuffer>(441 * 4));
        blocks.back()->bytesUsed = 441 * 4;
        ASSERT_EQ(output->AddBuffer(*blocks.back()), 0);
    }
    clock.Advance(10000);
    output->Pump();
    size_t played = 0;
    for (const auto& block : blocks) {
        played += block->IsFinished() ? 1 : 0;
    }
    EXPECT_EQ(played, 1001u);
    output->Reset();
}

TEST_F(VirtualDevicesTest, SkewSettingIsCheckedWhenRead) {
    struct Case {
        const char* text;
        double ppm;
        bool logged;
    };
    for (const Case& c :
         {Case{"-250.5", -250.5, false}, Case{"abc", 0.0, true}, Case{"12x", 0.0, true},
          Case{"200000", 0.0, true}, Case{"", 0.0, false}}) {
        ::setenv("BRIVANTA_DEVICE_SKEW_PPM", c.text, 1);
        std::vector<std::string> lines;
        const VirtualDeviceConfig config = VirtualDeviceConfig::FromEnvironment(
            [&](const std::string& line) { lines.push_back(line); });
        EXPECT_DOUBLE_EQ(config.skewPpm, c.ppm) << c.text;
        EXPECT_EQ(lines.size(), c.logged ? 1u : 0u) << c.text;
    }
    ::unsetenv("BRIVANTA_DEVICE_SKEW_PPM");
}

TEST_F(VirtualDevicesTest, InputWithoutBuffersLosesThatTimeAndCountsOneOverrun) {
    auto backend = MakeBackend();
    auto stream = OpenStarted(*backend, WaveDirection::Input, VirtualBackend::kToneId,
                              common::MakePcmFormat(8000, 1, 16));
    clock.Advance(50);  // nothing queued yet: lost, but no overrun before the first buffer
    WaveBuffer first(80 * 2);
    ASSERT_EQ(stream->AddBuffer(first), 0);
    clock.Advance(10);
    stream->Pump();
    ASSERT_TRUE(first.IsFinished());
    // The tone at 8 kHz repeats every 8 frames; frame 400 (at 50 ms) is phase 0.
    EXPECT_EQ(Samples(first)[0], 0);
    EXPECT_EQ(Samples(first)[2], 8231);
    EXPECT_EQ(stream->Counters().overruns, 0u);

    clock.Advance(30);
    stream->Pump();
    clock.Advance(30);
    stream->Pump();  // still the same dry spell
    WaveBuffer second(80 * 2);
    ASSERT_EQ(stream->AddBuffer(second), 0);
    EXPECT_EQ(stream->Counters().overruns, 1u);
    EXPECT_FALSE(second.IsFinished());
    stream->Reset();
}

TEST_F(VirtualDevicesTest, OutputPlaysBlocksInTimeAndCountsRunningDry) {
    auto backend = MakeBackend();
    const common::WaveFormatEx format = common::MakePcmFormat(8000, 1, 16);
    auto stream =
        OpenStarted(*backend, WaveDirection::Output, VirtualBackend::kNullOutputId, format);
    clock.Advance(100);  // idle before the first block: not an underrun
    WaveBuffer a(160);   // 10 ms
    WaveBuffer b(160);
    a.bytesUsed = b.bytesUsed = 160;
    ASSERT_EQ(stream->AddBuffer(a), 0);
    ASSERT_EQ(stream->AddBuffer(b), 0);
    clock.Advance(9);
    stream->Pump();
    EXPECT_FALSE(a.IsFinished());
    clock.Advance(1);
    stream->Pump();
    EXPECT_TRUE(a.IsFinished());
    EXPECT_FALSE(b.IsFinished());
    clock.Advance(40);
    stream->Pump();
    EXPECT_TRUE(b.IsFinished());
    EXPECT_EQ(stream->Counters().underruns, 1u);

    // A block after the gap starts now, not in the past.
    WaveBuffer c(160);
    c.bytesUsed = 160;
    ASSERT_EQ(stream->AddBuffer(c), 0);
    clock.Advance(9);
    stream->Pump();
    EXPECT_FALSE(c.IsFinished());
    clock.Advance(1);
    stream->Pump();
    EXPECT_TRUE(c.IsFinished());

    // Reset lets go of queued blocks without playing them.
    WaveBuffer d(160);
    d.bytesUsed = 160;
    ASSERT_EQ(stream->AddBuffer(d), 0);
    EXPECT_EQ(stream->Reset(), 0);
    clock.Advance(100);
    stream->Pump();
    EXPECT_FALSE(d.IsFinished());
}

TEST_F(VirtualDevicesTest, WavOutputIsOneAtATimeAndReportsFileErrors) {
    const std::string path = TempPath("busy.wav");
    cleanUp.push_back(path);
    auto backend = MakeBackend({"", path, 0.0});
    std::unique_ptr<IWaveStream> first;
    std::unique_ptr<IWaveStream> second;
    ASSERT_EQ(backend->Open(WaveDirection::Output, VirtualBackend::kWavOutputId, kCdFormat, first),
              0);
    EXPECT_EQ(backend->Open(WaveDirection::Output, VirtualBackend::kWavOutputId, kCdFormat, second),
              wave_error::kAllocated);
    first.reset();
    EXPECT_EQ(backend->Open(WaveDirection::Output, VirtualBackend::kWavOutputId, kCdFormat, second),
              0);
    second.reset();

    auto unwritable = MakeBackend({"", "/nonexistent-folder/out.wav", 0.0});
    EXPECT_EQ(
        unwritable->Open(WaveDirection::Output, VirtualBackend::kWavOutputId, kCdFormat, first),
        wave_error::kError);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_THAT(log[0], ::testing::HasSubstr("cannot create /nonexistent-folder/out.wav"));
}

TEST_F(VirtualDevicesTest, WavOutputWritesEightBitAudioAsSixteenBit) {
    const std::string path = TempPath("eight.wav");
    cleanUp.push_back(path);
    auto backend = MakeBackend({"", path, 0.0});
    auto stream = OpenStarted(*backend, WaveDirection::Output, VirtualBackend::kWavOutputId,
                              common::MakePcmFormat(8000, 1, 8));
    WaveBuffer block(4);
    block.data = {0, 128, 255, 129};
    block.bytesUsed = 4;
    ASSERT_EQ(stream->AddBuffer(block), 0);
    clock.Advance(1);
    stream->Pump();
    ASSERT_TRUE(block.IsFinished());
    stream.reset();

    WavReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(path, error)) << error;
    EXPECT_EQ(reader.BitsPerSample(), 16);
    std::vector<int16_t> samples(8);
    ASSERT_EQ(reader.ReadFrames(samples.data(), 8), 4u);
    EXPECT_THAT(std::vector<int16_t>(samples.begin(), samples.begin() + 4),
                ElementsAre(-32768, 0, 32512, 256));
}

TEST_F(VirtualDevicesTest, WavInputPlaysTheFileOnceConvertedThenSilence) {
    const std::string path = TempPath("in.wav");
    cleanUp.push_back(path);
    WriteWav(path, 4000, 1, {0, 100, 200, 300});  // mono at half the stream's rate
    auto backend = MakeBackend({path, "", 0.0});
    auto stream = OpenStarted(*backend, WaveDirection::Input, VirtualBackend::kWavInputId,
                              common::MakePcmFormat(8000, 2, 16));
    WaveBuffer buffer(12 * 4);
    ASSERT_EQ(stream->AddBuffer(buffer), 0);
    clock.Advance(2);
    stream->Pump();
    ASSERT_TRUE(buffer.IsFinished());
    // Each channel gets the file, the frames between interpolated; then silence.
    EXPECT_THAT(Samples(buffer), ElementsAre(0, 0, 50, 50, 100, 100, 150, 150, 200, 200, 250, 250,
                                             300, 300, 150, 150, 0, 0, 0, 0, 0, 0, 0, 0));
    stream->Reset();
}

TEST_F(VirtualDevicesTest, WavInputMovesOnWhileNoBufferIsQueued) {
    const std::string path = TempPath("skip.wav");
    cleanUp.push_back(path);
    std::vector<int16_t> ramp(100);
    for (int i = 0; i < 100; ++i) {
        ramp[i] = static_cast<int16_t>(i + 1);
    }
    WriteWav(path, 8000, 1, ramp);
    auto backend = MakeBackend({path, "", 0.0});
    const common::WaveFormatEx format = common::MakePcmFormat(8000, 1, 16);
    auto stream = OpenStarted(*backend, WaveDirection::Input, VirtualBackend::kWavInputId, format);
    clock.Advance(5);  // 40 frames go by unrecorded
    WaveBuffer buffer(4 * 2);
    ASSERT_EQ(stream->AddBuffer(buffer), 0);
    clock.Advance(1);
    stream->Pump();
    ASSERT_TRUE(buffer.IsFinished());
    EXPECT_THAT(Samples(buffer), ElementsAre(41, 42, 43, 44));

    clock.Advance(3600 * 1000);  // an hour: past the end of the file
    WaveBuffer later(4 * 2);
    ASSERT_EQ(stream->AddBuffer(later), 0);
    clock.Advance(1);
    stream->Pump();
    ASSERT_TRUE(later.IsFinished());
    EXPECT_THAT(Samples(later), ElementsAre(0, 0, 0, 0));
    stream->Reset();
}

TEST_F(VirtualDevicesTest, EightBitInputIsCentredOnOneHundredTwentyEight) {
    auto backend = MakeBackend();
    auto stream = OpenStarted(*backend, WaveDirection::Input, VirtualBackend::kToneId,
                              common::MakePcmFormat(8000, 1, 8));
    WaveBuffer buffer(8);
    ASSERT_EQ(stream->AddBuffer(buffer), 0);
    clock.Advance(1);
    stream->Pump();
    ASSERT_TRUE(buffer.IsFinished());
    // 8231 >> 8 = 32: -12 dBFS of 128.
    EXPECT_THAT(buffer.data,
                ElementsAre(128, 128 + 22, 128 + 32, 128 + 22, 128, 128 - 23, 128 - 33, 128 - 23));
    stream->Reset();
}

}  // namespace
}  // namespace brivanta::audio
