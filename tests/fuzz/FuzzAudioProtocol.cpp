// Fuzz target: any bytes through every decoder of the stream records.

#include <cstddef>
#include <cstdint>

#include "protocol/AudioProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivanta::protocol;
    const ByteView in(data, size);
    (void)DecodeHello(in);
    (void)DecodeServerTime(in);
    (void)DecodeWaveFormat(in);
    size_t consumed = 0;
    if (const auto params = DecodeStreamParams(in, consumed)) {
        Bytes again;
        EncodeStreamParams(*params, again);
    }
    (void)DecodeClientStart(in);
    (void)DecodeBlockHeader(in);
    return 0;
}
