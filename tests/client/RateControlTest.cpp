#include "client/RateControl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace brivanta::client {
namespace {

TEST(BufferToByteTest, LevelsFollowTheBufferInTenths) {
    struct Case {
        double buffer;
        TBufferLevels levels;
    };
    const Case cases[] = {
        {1.0, {0.96, 0.96, 1.01, 2.88}},
        {0.1, {0.06, 0.06, 0.11, 0.18}},  // 0.05 s after the login clamp
        {3.0, {2.96, 2.96, 3.01, 8.88}},
        {0.0, {0.06, 0.06, 0.11, 0.18}},  // below one tenth counts as one
    };
    for (const Case& c : cases) {
        const TBufferLevels levels = BufferToByte(BufferTenths(c.buffer));
        EXPECT_NEAR(levels.Low, c.levels.Low, 1e-12) << c.buffer;
        EXPECT_NEAR(levels.Target, c.levels.Target, 1e-12) << c.buffer;
        EXPECT_NEAR(levels.High, c.levels.High, 1e-12) << c.buffer;
        EXPECT_NEAR(levels.Overflow, c.levels.Overflow, 1e-12) << c.buffer;
    }
}

TEST(BufferToByteTest, TenthsCutTheFractionButNotADecimalSetting) {
    EXPECT_EQ(BufferTenths(2.3), 23);  // 2.3 * 10 is 22.999... in binary
    EXPECT_EQ(BufferTenths(1.09), 10);
    EXPECT_EQ(BufferTenths(65.5), 655);
    EXPECT_EQ(BufferTenths(0.05), 0);
}

TEST(ChunkingTest, BlocksUnder8KGoWholeLongerOnesIn4096ByteChunks) {
    struct Case {
        int32_t block;
        std::vector<int32_t> chunks;
    };
    const Case cases[] = {
        {10000, {4096, 5904}},
        {8192, {4096, 4096}},
        {8191, {8191}},
        {4096, {4096}},
        {20000, {4096, 4096, 4096, 7712}},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> chunks;
        for (int32_t left = c.block; left > 0;) {
            chunks.push_back(ChunkLength(left));
            left -= chunks.back();
        }
        EXPECT_EQ(chunks, c.chunks) << c.block;
    }
}

TEST(ChunkingTest, EachCorrectionStepIsTwoFrames) {
    EXPECT_EQ(CorrectedLength(4096, 3, 2, 16), 4120);   // 1024 -> 1030 frames
    EXPECT_EQ(CorrectedLength(4096, -3, 2, 16), 4072);  // 1024 -> 1018 frames
    EXPECT_EQ(CorrectedLength(4096, 16, 1, 8), 4096 + 16 * 2);
    EXPECT_EQ(CorrectedLength(4096, -1, 1, 16), 4092);
    EXPECT_LT(CorrectedLength(16, -16, 2, 16), 0);
}

// Stereo 16-bit frames numbered 0, 1, 2, ... in both samples.
std::vector<uint8_t> NumberedFrames(int frames) {
    std::vector<uint8_t> bytes(static_cast<size_t>(frames) * 4);
    for (int i = 0; i < frames; ++i) {
        const int16_t sample[2] = {static_cast<int16_t>(i), static_cast<int16_t>(-i)};
        std::memcpy(bytes.data() + i * 4, sample, 4);
    }
    return bytes;
}

std::vector<int> FrameNumbers(const std::vector<uint8_t>& bytes) {
    std::vector<int> numbers;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        int16_t sample[2];
        std::memcpy(sample, bytes.data() + i, 4);
        EXPECT_EQ(sample[1], -sample[0]);  // frames are never torn apart
        numbers.push_back(sample[0]);
    }
    return numbers;
}

TEST(BufferCombinizeTest, StretchRepeatsAndShrinkSkipsFramesEvenly) {
    for (const int correction : {3, -3, 16, -16, 1}) {
        const auto in = NumberedFrames(1024);
        const int32_t outSize = CorrectedLength(4096, correction, 2, 16);
        std::vector<uint8_t> out(static_cast<size_t>(outSize));
        ASSERT_TRUE(BufferCombinize16(out.data(), in.data(), 4096, outSize, 2));
        const auto numbers = FrameNumbers(out);
        ASSERT_EQ(numbers.size(), static_cast<size_t>(1024 + 2 * correction));
        EXPECT_EQ(numbers.front(), 0);
        int repeats = 0;
        int skips = 0;
        int lastGap = -1;
        int minGap = 1 << 30;
        for (size_t i = 1; i < numbers.size(); ++i) {
            const int step = numbers[i] - numbers[i - 1];
            ASSERT_GE(step, 0);
            ASSERT_LE(step, 2);
            if (step != 1) {
                step == 0 ? ++repeats : ++skips;
                if (lastGap >= 0) {
                    minGap = std::min(minGap, static_cast<int>(i) - lastGap);
                }
                lastGap = static_cast<int>(i);
            }
        }
        // The last input frame is where a stretch ends; a shrink may stop short of it.
        EXPECT_EQ(repeats, correction > 0 ? 2 * correction : 0) << correction;
        EXPECT_EQ(skips + (1023 - numbers.back()), correction < 0 ? -2 * correction : 0)
            << correction;
        if (std::abs(correction) > 1) {
            EXPECT_GT(minGap, 1024 / (2 * std::abs(correction)) / 2) << "spread evenly";
        }
    }
}

TEST(BufferCombinizeTest, EightBitFramesAndRefusals) {
    const std::vector<uint8_t> in = {1, 2, 3, 4, 5, 6, 7, 8};  // mono 8-bit
    std::vector<uint8_t> out(10);
    ASSERT_TRUE(BufferCombinize8(out.data(), in.data(), 8, 10, 1));
    for (size_t i = 1; i < out.size(); ++i) {
        EXPECT_LE(out[i] - out[i - 1], 1);
        EXPECT_GE(out[i] - out[i - 1], 0);
    }
    EXPECT_EQ(out.front(), 1);
    EXPECT_EQ(out.back(), 8);
    EXPECT_FALSE(BufferCombinize16(out.data(), in.data(), 8, 2, 2));  // no whole output frame
    EXPECT_FALSE(BufferCombinize8(out.data(), in.data(), 0, 10, 1));
}

// Runs one pass from a state and returns the state after it.
TRateState Step(TRateState state, double buffered, int64_t dtMs, double bufferSeconds = 1.0) {
    StepCorrection(state, buffered, dtMs, BufferToByte(BufferTenths(bufferSeconds)));
    return state;
}

TEST(StepCorrectionTest, InsideTheBandTheCorrectionIsOff) {
    EXPECT_EQ(Step({5, 3.0}, 0.96, 1000), (TRateState{0, 0}));
    EXPECT_EQ(Step({-7, 1.0}, 1.0, 1000), (TRateState{0, 0}));
}

TEST(StepCorrectionTest, ShortageAccumulatesUntilAStretchStep) {
    // (0.96 - 0.46) * 9.6 s = 4.8: not yet above 5 x 0.96 x 1^2.
    EXPECT_EQ(Step({0, 0}, 0.46, 9600).Correction, 0);
    EXPECT_NEAR(Step({0, 0}, 0.46, 9600).CorrectionAcc, 4.8, 1e-9);
    EXPECT_EQ(Step({0, 4.8}, 0.46, 1), (TRateState{1, 0}));
    // From step 2 on the next step needs 5 x 0.96 x 3^2 = 43.2.
    EXPECT_EQ(Step({2, 43.0}, 0.46, 100).Correction, 2);
    EXPECT_EQ(Step({2, 43.0}, 0.46, 500).Correction, 3);
    EXPECT_EQ(Step({16, 1000}, 0.0, 1000).Correction, 16);  // capped
}

TEST(StepCorrectionTest, ExcessAccumulatesUntilAShrinkStep) {
    // Above the band: (1.46 - 0.96) * dt; a step from 0 needs 5 x 0.96 x 1^2.
    EXPECT_EQ(Step({0, 4.7}, 1.46, 100).Correction, 0);
    EXPECT_EQ(Step({0, 4.7}, 1.46, 300), (TRateState{-1, 0}));
    // From -1 the next shrink needs 5 x 0.96 x 2^2 = 19.2.
    EXPECT_EQ(Step({-1, 19.0}, 1.46, 500).Correction, -2);
    EXPECT_EQ(Step({-16, 1e9}, 2.0, 1000).Correction, -16);
}

TEST(StepCorrectionTest, AStretchIsTakenBackOneStepPerFeedAboveTheBand) {
    EXPECT_EQ(Step({5, 0}, 1.02, 10), (TRateState{4, 0}));
    // Step 1 goes back to 0 at once: its threshold 5 x T x (1 - 1)^2 is 0.
    EXPECT_EQ(Step({1, 0}, 1.02, 10), (TRateState{0, 0}));
}

TEST(StepCorrectionTest, AShrinkIsTakenBackAfterEnoughShortage) {
    // Below the target at step -2: back to -1 after 5 x 0.96 x (-2 + 1)^2 = 4.8.
    EXPECT_EQ(Step({-2, 4.7}, 0.46, 100).Correction, -2);
    EXPECT_EQ(Step({-2, 4.7}, 0.46, 300), (TRateState{-1, 0}));
}

TEST(AudioTapTest, HeaderFieldsThenThePcm) {
    const uint8_t pcm[4] = {1, 2, 3, 4};
    const auto tap = BuildAudioTap(44100, 2, 16, -6.5, -90.3, pcm, 4);
    ASSERT_EQ(tap.size(), kAudioTapHeaderSize + 4);
    int32_t rate = 0;
    double left = 0;
    double right = 0;
    std::memcpy(&rate, tap.data(), 4);
    std::memcpy(&left, tap.data() + 6, 8);
    std::memcpy(&right, tap.data() + 14, 8);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(tap[4], 2);
    EXPECT_EQ(tap[5], 16);
    EXPECT_EQ(left, -6.5);
    EXPECT_EQ(right, -90.3);
    EXPECT_EQ(std::vector<uint8_t>(tap.begin() + 22, tap.end()),
              std::vector<uint8_t>(pcm, pcm + 4));
    EXPECT_EQ(BuildAudioTap(-5, 1, 8, 0, 0, nullptr, 0).size(), kAudioTapHeaderSize);
}

}  // namespace
}  // namespace brivanta::client
