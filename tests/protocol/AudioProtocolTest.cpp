#include "protocol/AudioProtocol.h"

#include <gtest/gtest.h>

#include <string>

namespace brivanta::protocol {
namespace {

Bytes Tail(const Bytes& bytes, size_t count) {
    return Bytes(bytes.end() - count, bytes.end());
}

TEST(AudioProtocolTest, HandshakeRecordsMatchTheByteExamples) {
    const Bytes server = EncodeServerAnnouncement(46000.5, TStreamParams{});
    EXPECT_EQ(Bytes(server.begin(), server.begin() + 8),
              Bytes(kMagicWord.begin(), kMagicWord.end()));
    EXPECT_EQ(Bytes(server.begin() + 8, server.begin() + 12), (Bytes{0x53, 0x02, 0x00, 0x00}));

    const auto client = EncodeClientAnswer("secret", TClientStart{3000, kSeqNewest}, true);
    ASSERT_TRUE(client);
    ASSERT_EQ(client->size(), 12u + 6u + 4u);
    EXPECT_EQ(Bytes(client->begin() + 8, client->begin() + 12), (Bytes{0x43, 0x02, 0x00, 0x06}));
    EXPECT_EQ(std::string(client->begin() + 12, client->begin() + 18), "secret");
    EXPECT_EQ(Tail(*client, 4), (Bytes{0xB8, 0x0B, 0xFF, 0xFF}));
}

TEST(AudioProtocolTest, BlockHeadersMatchTheByteExamples) {
    Bytes music;
    EncodeBlockHeader(TBlockHeader{417, 300, btMusic}, music);
    EXPECT_EQ(music, (Bytes{0xA1, 0x01, 0x2C, 0x01, 0x00}));
    EXPECT_EQ(DecodeBlockHeader(music), (TBlockHeader{417, 300, btMusic}));
    EXPECT_EQ(EncodeLoginResultMessage(6), (Bytes{0x01, 0x00, 0xFF, 0x00, 0xFF, 0x06}));
}

TEST(AudioProtocolTest, WaveFormatIsEighteenLittleEndianBytes) {
    const common::WaveFormatEx mp3{85, 2, 44100, 16000, 1, 0, 12};
    Bytes bytes;
    EncodeWaveFormat(mp3, bytes);
    EXPECT_EQ(bytes, (Bytes{0x55, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x80, 0x3E, 0x00, 0x00,
                            0x01, 0x00, 0x00, 0x00, 0x0C, 0x00}));
    EXPECT_EQ(DecodeWaveFormat(bytes), mp3);
    EXPECT_FALSE(DecodeWaveFormat(ByteView(bytes).first(17)));
}

TEST(AudioProtocolTest, ServerTimeIsALittleEndianDouble) {
    Bytes bytes;
    EncodeServerTime(1.0, bytes);
    EXPECT_EQ(bytes, (Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(DecodeServerTime(bytes), 1.0);
    EXPECT_FALSE(DecodeServerTime(ByteView(bytes).first(7)));
}

TEST(AudioProtocolTest, StreamParamsRoundTripAndEveryTruncationFails) {
    const TStreamParams params{common::MakePcmFormat(22050, 1, 16), "MPEG Layer-3 Codec",
                               "128 kBit/s, 44,100 Hz, Stereo"};
    Bytes bytes;
    EncodeStreamParams(params, bytes);
    ASSERT_EQ(bytes.size(),
              1u + 18u + 1u + params.driverName.size() + 1u + params.formatName.size());
    EXPECT_EQ(bytes[0], 18);

    size_t consumed = 0;
    bytes.push_back(0x77);  // a following byte is not part of the record
    EXPECT_EQ(DecodeStreamParams(bytes, consumed), params);
    EXPECT_EQ(consumed, bytes.size() - 1);
    for (size_t size = 0; size + 1 < bytes.size(); ++size) {
        EXPECT_FALSE(DecodeStreamParams(ByteView(bytes).first(size), consumed)) << size;
    }
    bytes[0] = 20;
    EXPECT_FALSE(DecodeStreamParams(bytes, consumed));
}

TEST(AudioProtocolTest, ShortStringsAreEmptyOrCutAt255) {
    Bytes bytes;
    EncodeStreamParams(TStreamParams{{}, "", std::string(300, 'x')}, bytes);
    size_t consumed = 0;
    const auto decoded = DecodeStreamParams(bytes, consumed);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->driverName, "");
    EXPECT_EQ(decoded->formatName, std::string(255, 'x'));
}

TEST(AudioProtocolTest, ClientAnswerWithoutDecoderEndsWithBufferLengthZero) {
    const auto answer = EncodeClientAnswer("", TClientStart{3000, 5}, false);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->size(), 14u);
    EXPECT_EQ((*answer)[11], 0);
    EXPECT_EQ(Tail(*answer, 2), (Bytes{0, 0}));
    EXPECT_TRUE(EncodeClientAnswer(std::string(255, 'p'), TClientStart{}, true));
    EXPECT_FALSE(EncodeClientAnswer(std::string(256, 'p'), TClientStart{}, true));
}

TEST(AudioProtocolTest, ShortInputsDecodeToNothing) {
    const Bytes bytes(12, 0);
    EXPECT_FALSE(DecodeHello(ByteView(bytes).first(11)));
    EXPECT_TRUE(DecodeHello(bytes));
    EXPECT_FALSE(DecodeClientStart(ByteView(bytes).first(3)));
    EXPECT_FALSE(DecodeBlockHeader(ByteView(bytes).first(4)));
    EXPECT_FALSE(DecodeHello(ByteView()));
}

TEST(AudioProtocolTest, HelloKeepsEveryByte) {
    Bytes bytes;
    const TStreamHello hello{{'B', 'r', 'i', 'v', 'a', 'n', 't', 'X'}, 'R', 7, 9, 255};
    EncodeHello(hello, bytes);
    const auto decoded = DecodeHello(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, hello);
    EXPECT_FALSE(decoded->MagicOk());
}

TEST(AudioProtocolTest, SequenceNumbersSkip0xFFFF) {
    EXPECT_EQ(NextSeq(0), 1);
    EXPECT_EQ(NextSeq(65533), 65534);
    EXPECT_EQ(NextSeq(65534), 0);
}

}  // namespace
}  // namespace brivanta::protocol
