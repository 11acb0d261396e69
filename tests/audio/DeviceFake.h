#pragma once

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "audio/WaveDevice.h"

namespace brivanta::audio::testing {

// A scripted device back end: the test lists the devices, sets the result of
// each call and finishes the buffers the device holds when it wants to.
// At most one stream is open at a time; single-threaded.
class FakeWaveBackend final : public IWaveBackend {
  public:
    std::vector<WaveDeviceInfo> inputs;
    std::vector<WaveDeviceInfo> outputs;
    int queryResult = 0;
    int openResult = 0;
    int startResult = 0;
    int addResult = 0;  // result of AddBuffer while acceptsLeft is 0
    int acceptsLeft = 1 << 30;

    // What happened.
    std::vector<std::string> calls;
    common::WaveFormatEx lastFormat;
    int32_t lastDeviceId = -1;
    bool open = false;
    std::deque<WaveBuffer*> held;         // buffers the device holds, oldest first
    std::vector<WaveBuffer*> handedOver;  // every buffer accepted since the stream opened

    std::vector<WaveDeviceInfo> Devices(WaveDirection direction) override {
        return direction == WaveDirection::Input ? inputs : outputs;
    }

    int QueryFormat(WaveDirection, int32_t deviceId, const common::WaveFormatEx& format) override {
        calls.push_back("query");
        lastDeviceId = deviceId;
        lastFormat = format;
        return queryResult;
    }

    int Open(WaveDirection, int32_t deviceId, const common::WaveFormatEx& format,
             std::unique_ptr<IWaveStream>& stream) override {
        calls.push_back("open");
        lastDeviceId = deviceId;
        lastFormat = format;
        if (openResult != 0) {
            return openResult;
        }
        open = true;
        handedOver.clear();
        stream = std::make_unique<Stream>(*this);
        return 0;
    }

    // The device fills its oldest buffer (input) with bytes of value fill,
    // or with the given bytes, and marks it finished.
    void RecordNext(uint8_t fill) {
        WaveBuffer* buffer = TakeOldest();
        std::memset(buffer->data.data(), fill, buffer->data.size());
        buffer->bytesUsed = static_cast<uint32_t>(buffer->data.size());
        buffer->MarkFinished();
    }
    void RecordNext(const std::vector<uint8_t>& bytes) {
        WaveBuffer* buffer = TakeOldest();
        std::memcpy(buffer->data.data(), bytes.data(), bytes.size());
        buffer->bytesUsed = static_cast<uint32_t>(bytes.size());
        buffer->MarkFinished();
    }
    // The device plays its oldest buffer (output) to the end.
    void PlayNext() { TakeOldest()->MarkFinished(); }
    // The device begins to play its oldest buffer.
    void BeginNext() { held.front()->TryClaim(); }

  private:
    class Stream final : public IWaveStream {
      public:
        explicit Stream(FakeWaveBackend& backend) : backend_(backend) {}
        ~Stream() override {
            backend_.calls.push_back("close");
            backend_.open = false;
            backend_.held.clear();
        }
        int Start() override {
            backend_.calls.push_back("start");
            return backend_.startResult;
        }
        int AddBuffer(WaveBuffer& buffer) override {
            if (backend_.acceptsLeft == 0) {
                return backend_.addResult;
            }
            --backend_.acceptsLeft;
            backend_.held.push_back(&buffer);
            backend_.handedOver.push_back(&buffer);
            return 0;
        }
        void Pump() override {}
        int Reset() override {
            backend_.calls.push_back("reset");
            backend_.held.clear();
            return 0;
        }
        WaveDeviceCounters Counters() const override { return {}; }

      private:
        FakeWaveBackend& backend_;
    };

    WaveBuffer* TakeOldest() {
        WaveBuffer* buffer = held.front();
        held.pop_front();
        return buffer;
    }
};

// A device that passes the 44.1 kHz 16-bit stereo test.
inline WaveDeviceInfo UsableDevice(int32_t id, std::string name) {
    return WaveDeviceInfo{id, std::move(name), true};
}

}  // namespace brivanta::audio::testing
