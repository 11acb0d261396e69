#include "audio/PortAudioDevices.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <portaudio.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "audio/DeviceRingTransfer.h"

namespace brivanta::audio {
namespace {

constexpr int64_t kRescanIntervalMs = 2000;

// ALSA and JACK print every failed probe to stderr; on a machine without a
// sound card that is a page of noise per scan. Failures reach us as
// PortAudio result codes anyway.
void SilentAlsa(const char*, int, const char*, int, const char*, ...) {}
void SilentJack(const char*) {}

// PortAudio is one library per process, initialised by reference count. This
// keeps one reference for all back ends, knows how many streams are open and
// serialises every PortAudio call but the stream callbacks.
class PaLibrary {
  public:
    static PaLibrary& Instance() {
        static PaLibrary* const library = new PaLibrary;  // lives until exit, never torn down early
        return *library;
    }

    std::mutex& Mutex() { return mutex_; }

    // The calls below need Mutex() held.
    PaError Acquire() {
        if (users_++ == 0) {
            Initialise();
        }
        return initError_;
    }
    void Release() {
        if (--users_ == 0 && initError_ == paNoError) {
            Pa_Terminate();
            initError_ = paNotInitialized;
        }
    }
    // Re-initialises, so that devices plugged in since are seen; only while no
    // stream is open, since terminating closes every stream.
    bool Reinitialise() {
        if (openStreams_ > 0) {
            return false;
        }
        if (initError_ == paNoError) {
            Pa_Terminate();
        }
        Initialise();
        return true;
    }
    PaError Status() const { return initError_; }
    void StreamOpened() { ++openStreams_; }
    void StreamClosed() { --openStreams_; }

  private:
    void Initialise() {
        snd_lib_error_set_handler(SilentAlsa);
        jack_set_error_function(SilentJack);
        jack_set_info_function(SilentJack);
        initError_ = Pa_Initialize();
    }

    std::mutex mutex_;
    int users_ = 0;                         // guarded by mutex_
    int openStreams_ = 0;                   // guarded by mutex_
    PaError initError_ = paNotInitialized;  // guarded by mutex_
};

int InputCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                  PaStreamCallbackFlags flags, void* user) noexcept {
    auto& transfer = *static_cast<DeviceRingTransfer*>(user);
    if ((flags & paInputOverflow) != 0) {
        transfer.HostOverrun();
    }
    transfer.Record(static_cast<const uint8_t*>(input), frames * transfer.FrameBytes());
    return paContinue;
}

int OutputCallback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                   PaStreamCallbackFlags flags, void* user) noexcept {
    auto& transfer = *static_cast<DeviceRingTransfer*>(user);
    if ((flags & paOutputUnderflow) != 0) {
        transfer.HostUnderrun();
    }
    transfer.Play(static_cast<uint8_t*>(output), frames * transfer.FrameBytes());
    return paContinue;
}

class PortAudioStream final : public IWaveStream {
  public:
    // Opens the stream; the library mutex must be held.
    static int Open(PaLibrary& library, const PaStreamParameters& parameters,
                    WaveDirection direction, double sampleRate, uint8_t silence,
                    std::unique_ptr<IWaveStream>& stream) {
        const size_t frameBytes = static_cast<size_t>(parameters.channelCount) *
                                  Pa_GetSampleSize(parameters.sampleFormat);
        auto transfer = std::make_unique<DeviceRingTransfer>(frameBytes, silence);
        const bool input = direction == WaveDirection::Input;
        PaStream* handle = nullptr;
        const PaError error =
            Pa_OpenStream(&handle, input ? &parameters : nullptr, input ? nullptr : &parameters,
                          sampleRate, paFramesPerBufferUnspecified, paNoFlag,
                          input ? InputCallback : OutputCallback, transfer.get());
        if (error != paNoError) {
            return error;
        }
        library.StreamOpened();
        stream.reset(new PortAudioStream(library, handle, std::move(transfer)));
        return 0;
    }

    ~PortAudioStream() override {
        transfer_->Detach();
        std::lock_guard lock(library_.Mutex());
        if (Pa_IsStreamStopped(handle_) == 0) {
            Pa_AbortStream(handle_);
        }
        Pa_CloseStream(handle_);
        library_.StreamClosed();
    }

    int Start() override {
        transfer_->Attach();
        std::lock_guard lock(library_.Mutex());
        return Pa_IsStreamStopped(handle_) == 1 ? Pa_StartStream(handle_) : 0;
    }

    int AddBuffer(WaveBuffer& buffer) override {
        return transfer_->Hand(buffer) ? 0 : wave_error::kNoMemory;
    }

    void Pump() override {}

    int Reset() override {
        // Off the buffers first: even if the host fails to stop, no callback
        // touches them once this returns.
        transfer_->Detach();
        std::lock_guard lock(library_.Mutex());
        PaError error = paNoError;
        if (Pa_IsStreamStopped(handle_) == 0) {
            error = Pa_AbortStream(handle_);
        }
        transfer_->Clear();
        return error;
    }

    WaveDeviceCounters Counters() const override { return transfer_->Counters(); }

  private:
    PortAudioStream(PaLibrary& library, PaStream* handle,
                    std::unique_ptr<DeviceRingTransfer> transfer)
        : library_(library), handle_(handle), transfer_(std::move(transfer)) {}

    PaLibrary& library_;
    PaStream* const handle_;
    const std::unique_ptr<DeviceRingTransfer> transfer_;
};

// A device seen in some scan; its position in the known list is its number.
struct KnownDevice {
    std::string key;  // host API and name, to find it again after a rescan
    std::string name;
    PaDeviceIndex index = paNoDevice;  // in the current scan; paNoDevice when gone
    int maxInputs = 0;
    int maxOutputs = 0;
    PaTime inputLatency = 0;
    PaTime outputLatency = 0;
    bool cdInput = false;  // passed the 44.1 kHz 16-bit stereo test once
    bool cdOutput = false;
};

}  // namespace

struct PortAudioBackend::State {
    State(common::IClock& clock, DeviceLog log)
        : clock(clock), log(std::move(log)), library(PaLibrary::Instance()) {}

    common::IClock& clock;
    const DeviceLog log;
    PaLibrary& library;
    // Guarded by library.Mutex().
    std::vector<KnownDevice> known;
    bool scanned = false;
    int64_t lastScanMs = 0;
    PaError loggedError = paNoError;

    void ScanIfDue();
    void Scan();
    void TestCdFormat(KnownDevice& device) const;
    KnownDevice* Find(WaveDirection direction, int32_t deviceId);
};

void PortAudioBackend::State::ScanIfDue() {
    const int64_t now = clock.NowMs();
    if (scanned && now - lastScanMs < kRescanIntervalMs) {
        return;
    }
    if (scanned && !library.Reinitialise()) {
        return;  // a stream is open: keep the last scan
    }
    scanned = true;
    lastScanMs = now;
    Scan();
}

void PortAudioBackend::State::Scan() {
    for (KnownDevice& device : known) {
        device.index = paNoDevice;
    }
    const PaError status = library.Status();
    if (status != paNoError) {
        if (status != loggedError && log) {
            log(std::string("PortAudio is not available: ") + Pa_GetErrorText(status));
        }
        loggedError = status;
        return;
    }
    loggedError = paNoError;
    const PaDeviceIndex count = std::max<PaDeviceIndex>(0, Pa_GetDeviceCount());
    for (PaDeviceIndex index = 0; index < count; ++index) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
        const PaHostApiInfo* api = info != nullptr ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
        if (info == nullptr || info->name == nullptr) {
            continue;
        }
        const std::string key = std::string(api != nullptr ? api->name : "") + '/' + info->name;
        auto found = std::find_if(known.begin(), known.end(), [&](const KnownDevice& device) {
            return device.key == key && device.index == paNoDevice;
        });
        if (found == known.end()) {
            found = known.insert(known.end(), KnownDevice{key, info->name});
        }
        found->index = index;
        found->maxInputs = info->maxInputChannels;
        found->maxOutputs = info->maxOutputChannels;
        found->inputLatency = info->defaultHighInputLatency;
        found->outputLatency = info->defaultHighOutputLatency;
        TestCdFormat(*found);
    }
}

void PortAudioBackend::State::TestCdFormat(KnownDevice& device) const {
    PaStreamParameters parameters{};
    parameters.device = device.index;
    parameters.channelCount = 2;
    parameters.sampleFormat = paInt16;
    if (!device.cdInput && device.maxInputs >= 2) {
        parameters.suggestedLatency = device.inputLatency;
        device.cdInput = Pa_IsFormatSupported(&parameters, nullptr, 44100.0) == paFormatIsSupported;
    }
    if (!device.cdOutput && device.maxOutputs >= 2) {
        parameters.suggestedLatency = device.outputLatency;
        device.cdOutput =
            Pa_IsFormatSupported(nullptr, &parameters, 44100.0) == paFormatIsSupported;
    }
}

KnownDevice* PortAudioBackend::State::Find(WaveDirection direction, int32_t deviceId) {
    if (deviceId < 0 || static_cast<size_t>(deviceId) >= known.size()) {
        return nullptr;
    }
    KnownDevice& device = known[static_cast<size_t>(deviceId)];
    const int channels = direction == WaveDirection::Input ? device.maxInputs : device.maxOutputs;
    return device.index != paNoDevice && channels > 0 ? &device : nullptr;
}

namespace {

// The stream parameters for a PCM format, or false when PortAudio has no
// sample format for it.
bool ToParameters(const KnownDevice& device, WaveDirection direction,
                  const common::WaveFormatEx& format, PaStreamParameters& parameters) {
    if (format.wFormatTag != common::kWaveFormatPcm || format.nChannels == 0 ||
        format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8) {
        return false;
    }
    parameters = PaStreamParameters{};
    parameters.device = device.index;
    parameters.channelCount = format.nChannels;
    if (format.wBitsPerSample == 16) {
        parameters.sampleFormat = paInt16;
    } else if (format.wBitsPerSample == 8) {
        parameters.sampleFormat = paUInt8;
    } else {
        return false;
    }
    parameters.suggestedLatency =
        direction == WaveDirection::Input ? device.inputLatency : device.outputLatency;
    return true;
}

}  // namespace

PortAudioBackend::PortAudioBackend(common::IClock& clock, DeviceLog log)
    : state_(std::make_unique<State>(clock, std::move(log))) {
    std::lock_guard lock(state_->library.Mutex());
    state_->library.Acquire();
}

PortAudioBackend::~PortAudioBackend() {
    std::lock_guard lock(state_->library.Mutex());
    state_->library.Release();
}

std::vector<WaveDeviceInfo> PortAudioBackend::Devices(WaveDirection direction) {
    std::lock_guard lock(state_->library.Mutex());
    state_->ScanIfDue();
    std::vector<std::pair<PaDeviceIndex, WaveDeviceInfo>> present;
    for (size_t id = 0; id < state_->known.size(); ++id) {
        if (const KnownDevice* device = state_->Find(direction, static_cast<int32_t>(id))) {
            const bool cd = direction == WaveDirection::Input ? device->cdInput : device->cdOutput;
            present.push_back({device->index, {static_cast<int32_t>(id), device->name, cd}});
        }
    }
    std::sort(present.begin(), present.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<WaveDeviceInfo> devices;
    for (auto& [index, info] : present) {
        devices.push_back(std::move(info));
    }
    return devices;
}

// The stream parameters of a listed device for the format; 0 or a result code.
// Called with the library's lock held.
int PortAudioBackend::StreamParameters(WaveDirection direction, int32_t deviceId,
                                       const common::WaveFormatEx& format,
                                       PaStreamParameters& parameters) const {
    if (state_->library.Status() != paNoError) {
        return state_->library.Status();
    }
    const KnownDevice* device = state_->Find(direction, deviceId);
    if (device == nullptr) {
        return wave_error::kBadDeviceId;
    }
    return ToParameters(*device, direction, format, parameters) ? 0 : wave_error::kBadFormat;
}

int PortAudioBackend::QueryFormat(WaveDirection direction, int32_t deviceId,
                                  const common::WaveFormatEx& format) {
    std::lock_guard lock(state_->library.Mutex());
    PaStreamParameters parameters;
    if (const int result = StreamParameters(direction, deviceId, format, parameters); result != 0) {
        return result;
    }
    const bool input = direction == WaveDirection::Input;
    const PaError error = Pa_IsFormatSupported(
        input ? &parameters : nullptr, input ? nullptr : &parameters, format.nSamplesPerSec);
    return error == paFormatIsSupported ? 0 : error;
}

int PortAudioBackend::Open(WaveDirection direction, int32_t deviceId,
                           const common::WaveFormatEx& format,
                           std::unique_ptr<IWaveStream>& stream) {
    std::lock_guard lock(state_->library.Mutex());
    PaStreamParameters parameters;
    if (const int result = StreamParameters(direction, deviceId, format, parameters); result != 0) {
        return result;
    }
    const uint8_t silence = format.wBitsPerSample == 8 ? 128 : 0;
    return PortAudioStream::Open(state_->library, parameters, direction, format.nSamplesPerSec,
                                 silence, stream);
}

std::string PortAudioErrorText(int code) {
    return Pa_GetErrorText(code);
}

}  // namespace brivanta::audio
