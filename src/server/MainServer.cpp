#include "server/MainServer.h"

#include <sys/resource.h>

#include <cstdio>
#include <filesystem>

#include "Version.h"
#include "common/ProfileSettings.h"
#include "common/TcpSocket.h"
#include "common/Utils.h"
#include "server/SettingChanges.h"

namespace brivanta::server {

namespace {

constexpr int64_t kWorkIntervalMs = 40;

std::string TitleText() {
    char text[64];
    std::snprintf(text, sizeof text, "Brivanta (ver.%d.%d.%d.%d)", kVersionMajor, kVersionMinor,
                  kVersionPatch, kVersionBuild);
    return text;
}

}  // namespace

TBrivantaServer::TBrivantaServer(common::EventLoop& loop, audio::IWaveBackend& backend,
                                 Options options)
    : loop_(loop), backend_(backend), options_(std::move(options)), titleText_(TitleText()) {
    log_ =
        std::make_unique<TServerLog>(loop_.Clock(), common::SettingsFolder(options_.settingsPath));
    plugins_.InitPlugins();
    netSender_ = std::make_unique<TNetSender>(
        loop_.Clock(), [this](const std::string& text) { log_->OutLog(text); },
        [this](const std::string& line) { log_->AddHello(line); });
    streamServer_ =
        std::make_unique<StreamServer>(*netSender_, [this] { connectionsChanged_ = true; });
    external_ = std::make_unique<TExternalReceiver>(
        [this](const uint8_t* data, size_t size, uint8_t type) {
            netSender_->AddBlock(data, size, type);
        },
        [this](const std::string& text) { log_->OutLog(text); });
    Publish([&](TServerState& s) { s.Caption = titleText_; });
}

TBrivantaServer::~TBrivantaServer() {
    Close();
}

void TBrivantaServer::Start() {
    netSender_->UpdateNow();
    setpriority(PRIO_PROCESS, 0, -10);  // the high priority class, where permitted
    phase_ = WorkPhase::ReadSettings;
    workTimer_ = loop_.AddTimer(kWorkIntervalMs, [this] { TimerWork(); });
}

void TBrivantaServer::TimerWork() {
    switch (phase_) {
        case WorkPhase::ReadSettings:
            ReadSettingTimer();
            break;
        case WorkPhase::Delay:
            TimerDelayTimer();
            break;
        case WorkPhase::Init:
            TimerWork_Init();
            break;
        case WorkPhase::Work:
            TimerWorkTimer();
            break;
        case WorkPhase::Idle:
            break;
    }
}

void TBrivantaServer::ReadSettingTimer() {
    phase_ = WorkPhase::Idle;
    log_->OutLog("Read settings");
    const common::SettingsReadStatus status =
        server::ReadSettings(options_.settingsPath, settings_, author_);
    // Until the first view refresh the log is the only thing that moves.
    PublishViews();
    if (!status.ok) {
        // The start-up goes no further; the log says why.
        log_->OutLog(status.error);
        if (options_.onErrorMessage) {
            options_.onErrorMessage(status.error);
        }
        phase_ = WorkPhase::Work;
        return;
    }
    plugins_.ScanPlugins(settings_.PluginPath);
    Publish([&](TServerState& s) { s.ShowLogConnect = author_; });
    if (settings_.Auto && settings_.Delay > 0) {
        Publish([](TServerState& s) {
            s.RunVisible = s.StopVisible = s.SettingVisible = false;
            s.StatusClickable = true;
        });
        delayUntil_ = loop_.Clock().NowMs() + int64_t{settings_.Delay} * 1000;
        phase_ = WorkPhase::Delay;
    } else {
        phase_ = WorkPhase::Init;
    }
}

void TBrivantaServer::TimerDelayTimer() {
    netSender_->UpdateNow();
    const int64_t now = netSender_->FNow();
    if (now < delayUntil_) {
        char text[48];
        std::snprintf(text, sizeof text, "Delay %3.1f s", (delayUntil_ - now) / 1000.0);
        Publish([&](TServerState& s) { s.StatusText = text; });
        return;
    }
    Publish([](TServerState& s) {
        s.StatusText.clear();
        s.RunVisible = s.SettingVisible = true;
        s.StopVisible = false;
        s.StatusClickable = false;
    });
    phase_ = WorkPhase::Init;
}

void TBrivantaServer::LStatusClick() {
    if (phase_ == WorkPhase::Delay) {
        delayUntil_ = loop_.Clock().NowMs();
    }
}

void TBrivantaServer::TimerWork_Init() {
    Publish([](TServerState& s) { s.RunEnabled = false; });
    Prepare_Plugins();
    if (!Try_Start_InputDevice() || !Prepare_ACM()) {
        return;  // the next tick tries again
    }
    Prepare_Server();
    Publish([](TServerState& s) { s.RunEnabled = true; });
    interactive_ = settings_.ExtMode == 2;
    phase_ = WorkPhase::Work;
    if (settings_.Auto) {
        Run();
    }
}

void TBrivantaServer::TimerWorkTimer() {
    netSender_->UpdateNow();
    netSender_->Sweep();
    if (connectionsChanged_.exchange(false)) {
        workTicks_ = 0;
    }
    workTicks_ %= 5;
    if (const auto shown = log_->ShowLog(); shown && options_.onLogShown) {
        options_.onLogShown(*shown);
    }
    if (workTicks_ == 0) {
        PublishViews();
        log_->OutLogToFile();
    }
    ++workTicks_;
    const bool capturing = capture_ && capture_->Active();
    const double left = capturing ? capture_->LevelLeftDb() : -100;
    const double right = capturing ? capture_->LevelRightDb() : -100;
    const size_t queue = netSender_->QueueSize();
    const uint16_t seq = netSender_->LastSeq();
    const bool online = streamServer_->Active();
    Publish([&](TServerState& s) {
        s.Capturing = capturing;
        s.LevelLeft = left;
        s.LevelRight = right;
        s.Queue = queue;
        s.Seq = seq;
        s.Online = online;
    });
}

void TBrivantaServer::PublishViews() {
    const std::vector<TClientSlot> slots = netSender_->Slots();
    int listeners = 0;
    for (const TClientSlot& slot : slots) {
        listeners += slot.state == ssOnline ? 1 : 0;
    }
    auto rows = ConnectionRows(slots, netSender_->FNow());
    Publish([&](TServerState& s) {
        s.Connections = std::move(rows);
        s.Listeners = listeners;
    });
}

void TBrivantaServer::Prepare_Plugins() {
    const auto log = [this](const std::string& text) { log_->OutLog(text); };
    // Plug-ins an earlier attempt loaded are already in the chain; asking for
    // them again would only report false errors.
    std::vector<std::string> notLoaded;
    for (const std::string& name : settings_.PluginsInUse) {
        if (plugins_.PositionOf(name) < 0) {
            notLoaded.push_back(name);
        }
    }
    audio::LoadPluginsInUse(plugins_, settings_.PluginPath, notLoaded, log);
}

bool TBrivantaServer::Try_Start_InputDevice() {
    if (!capture_) {
        log_->OutLog("Prepare device and stream");
        capture_ = std::make_unique<TWaveCapture>(
            backend_, [this](const std::string& text) { log_->OutLog(text); });
        capture_->OnData = [this](TWaveCapture&, uint8_t* data, int32_t& size) {
            WaveHaveData(data, size);
        };
        processThread_ = std::make_unique<TProcessThread>(
            [this] { ProcessPass(); }, [this](const std::string& text) { log_->OutLog(text); });
    } else {
        auto hold = processThread_->PassLock();
        capture_->RefreshDevices();
    }
    int32_t position = -1;
    for (int32_t i = 0; i < capture_->DeviceCount() && position < 0; ++i) {
        if (capture_->DeviceName(i) == settings_.Device) {
            position = i;
        }
    }
    if (position < 0) {
        const std::string text =
            settings_.Device.empty() ? "Define wave device" : "Wait for " + settings_.Device;
        Publish([&](TServerState& s) {
            s.DeviceOk = false;
            s.LabDevice = text;
        });
        return false;
    }
    Publish([](TServerState& s) { s.DeviceOk = true; });
    if (capture_->Active()) {
        const int channels = capture_->Mono ? 1 : 2;
        if (capture_->DeviceIndex() == position && capture_->SamplesPerSec == settings_.Bitrate &&
            channels == settings_.Channles) {
            return true;
        }
        WCS_Stop();
    }
    if (WCS_Start(position) != 0) {
        Publish([](TServerState& s) { s.DeviceOk = false; });
        log_->OutLog("Error! Error start wave stream!");
        return false;
    }
    return true;
}

int TBrivantaServer::WCS_Start(int32_t position) {
    auto hold = processThread_->PassLock();
    capture_->SelectDevice(position);
    capture_->SamplesPerSec = settings_.Bitrate;
    capture_->Mono = settings_.Channles == 1 ? 1 : 0;
    capture_->BitsPerSample = 16;
    capture_->BlockSize = (settings_.BlockSize + 1) * 1024 * settings_.Channles;
    capture_->SetQueueLength(settings_.Bitrate * 4 * settings_.Channles);
    const std::string name = capture_->DeviceName(position);
    const std::string freq = std::to_string(settings_.Bitrate) + " Hz";
    const std::string channel = settings_.Channles == 1 ? "Mono" : "Stereo";
    Publish([&](TServerState& s) {
        s.LabDevice = name;
        s.LabFreq = freq;
        s.LabChannel = channel;
    });
    return capture_->Start();
}

void TBrivantaServer::WCS_SetBlockSize() {
    auto hold = processThread_->PassLock();
    capture_->BlockSize = (settings_.BlockSize + 1) * 1024 * settings_.Channles;
}

void TBrivantaServer::WCS_Stop() {
    if (!capture_) {
        return;
    }
    auto hold = processThread_->PassLock();
    if (capture_->Active()) {
        capture_->Stop();
    }
}

bool TBrivantaServer::Prepare_ACM() {
    if (!capture_) {
        return false;  // no device yet: the encoder follows the capture's format
    }
    auto hold = processThread_->PassLock();
    const int rate = capture_->SamplesPerSec;
    const int channels = capture_->Mono ? 1 : 2;
    if (!encoder_) {
        encoder_ = std::make_unique<audio::TACM>(audio::TACM::kEncode, rate, channels, 0, true);
        encoder_->SetBufferSize(rate / 2);
        encoder_->SetThreshold(256);
        encoder_->OnHaveData = [this](audio::TACM&, const uint8_t* data, uint32_t size) {
            AcmHaveData(data, size);
        };
        encoder_->OnStop = [this](audio::TACM&) { ACMStop(); };
        encoder_->OnStart = [this](audio::TACM&) { ACMStart(); };
    }
    if (encoder_->Active() &&
        (encoder_->SamplesPerSec() != rate || encoder_->Channels() != channels)) {
        encoder_->Close();
    }
    if (settings_.Driver.empty()) {
        Publish([](TServerState& s) { s.DriverOk = false; });
        log_->OutLog("Settings: ...Please select driver...");
        return false;
    }
    Publish([&](TServerState& s) { s.LabDriver = settings_.Driver; });
    encoder_->SetSamplesPerSec(rate);
    encoder_->SetChannels(channels);
    encoder_->Enumerate();
    if (!encoder_->SelectDriver(settings_.Driver)) {
        Publish([](TServerState& s) { s.DriverOk = false; });
        log_->OutLog("Error: Error apply driver");
        return false;
    }
    Publish([](TServerState& s) { s.DriverOk = true; });
    const int position = encoder_->FindFormat(static_cast<uint16_t>(settings_.Tag),
                                              static_cast<uint32_t>(settings_.FormatIndex));
    if (position < 0) {
        Publish([](TServerState& s) {
            s.CodecOk = false;
            s.LabCodec.clear();
        });
        log_->OutLog("Error: Error apply codec");
        return false;
    }
    const std::string name = encoder_->FormatName(position);
    Publish([&](TServerState& s) {
        s.CodecOk = true;
        s.LabCodec = name;
    });
    return true;
}

void TBrivantaServer::Prepare_Server() {
    const std::string caption =
        settings_.Name.empty() ? titleText_ : settings_.Name + " : " + titleText_;
    Publish([&](TServerState& s) { s.Caption = caption; });
}

void TBrivantaServer::Run() {
    if (!capture_ || !capture_->Active() || !encoder_) {
        return;
    }
    netSender_->ClearQueue();
    const int position = encoder_->FindFormat(static_cast<uint16_t>(settings_.Tag),
                                              static_cast<uint32_t>(settings_.FormatIndex));
    if (position < 0) {
        return;
    }
    int result;
    {
        auto hold = processThread_->PassLock();
        result = encoder_->Open(*encoder_->FormatAt(position));
    }
    if (result != 0) {
        log_->OutLog("Error: Error start encoder!");
        return;
    }
    if (!streamServer_->Active()) {
        // The listener could not start: close the encoder again, so the server
        // is plainly down and Run can be tried again.
        Stop();
    }
}

void TBrivantaServer::ACMStart() {
    netSender_->SetSlotCount(settings_.MaxConnections);
    netSender_->SetPassword(settings_.Password);
    const audio::TACMFormatItem& current = *encoder_->Current();
    netSender_->SetStreamParams(protocol::TStreamParams{
        current.Description(), encoder_->DriverName(encoder_->DriverIndex), current.Name});
    const int result =
        streamServer_->Start(options_.bindAddress, settings_.Port, settings_.MaxConnections);
    if (result != 0) {
        log_->OutLog(common::SocketErrorText(result));
        return;
    }
    const std::string driver = encoder_->DriverName(encoder_->DriverIndex);
    Publish([&](TServerState& s) {
        s.CodecOk = true;
        s.StopVisible = true;
        s.RunVisible = false;
        s.LabDriver = driver;
        s.LabCodec = current.Name;
        s.Online = true;
    });
    Run_External_Server();
    SetStatus("Server online", TLabelColour::Navy);
    log_->OutLog("Server online");
    if (settings_.ToTray) {
        Publish([](TServerState& s) { s.MinimiseRequested = true; });
    }
}

void TBrivantaServer::ACMStop() {
    netSender_->SetSlotCount(0);
    Publish([](TServerState& s) {
        s.StopVisible = false;
        s.RunVisible = true;
    });
    log_->OutLog("Server down");
}

void TBrivantaServer::Stop() {
    if (encoder_) {
        auto hold = processThread_->PassLock();
        encoder_->Close();
    }
    netSender_->ClearQueue();
    StopServer();
    external_->Stop();
    Publish([](TServerState& s) { s.Online = false; });
    SetStatus("Server down", TLabelColour::Red);
}

void TBrivantaServer::StopServer() {
    if (streamServer_->Active()) {
        streamServer_->Stop();
    }
}

void TBrivantaServer::Run_External_Server() {
    external_->Stop();
    if (settings_.ExtMode == 1) {
        TExternalReceiver::Config config;
        config.port = settings_.ExtPort;
        config.password = settings_.ExtPass;
        config.ipOnly = settings_.ExtIPOnly;
        config.ip = settings_.ExtIP;
        config.bindAddress = options_.bindAddress;
        external_->Start(config);
    }
    interactive_ = settings_.ExtMode == 2;
}

void TBrivantaServer::ProcessPass() {
    if (capture_->Active()) {
        capture_->Poll();
    }
}

void TBrivantaServer::WaveHaveData(uint8_t* data, int32_t& size) {
    uint32_t length = static_cast<uint32_t>(size);
    plugins_.ProcessPlugins(data, length);
    size = static_cast<int32_t>(length);
    if (encoder_ && encoder_->Active()) {
        encoder_->Convert(data, length);
    }
}

void TBrivantaServer::AcmHaveData(const uint8_t* data, uint32_t size) {
    if (encoder_->Active()) {
        netSender_->AddBlock(data, size, protocol::btMusic);
    }
}

void TBrivantaServer::ApplySettings(const TSetting& saved, uint32_t changes) {
    settings_ = saved;
    if (changes & scDevice) {
        if (!Try_Start_InputDevice()) {
            log_->OutLog("Error start input device!");
            if (options_.onErrorMessage) {
                options_.onErrorMessage("Error start input device!");
            }
        }
    }
    if (!streamServer_->Active()) {
        if (changes & scStream) {
            Prepare_ACM();
        }
        return;
    }
    if (changes & scMaxConnections) {
        netSender_->SetSlotCount(settings_.MaxConnections);
        streamServer_->SetMaxConnections(settings_.MaxConnections);
    }
    if (changes & scStream) {
        Stop();
        if (Try_Start_InputDevice() && Prepare_ACM()) {
            Prepare_Server();
            Run();
        }
        return;
    }
    if (changes & scExternal) {
        Run_External_Server();
    }
    if (changes & scBlockSize) {
        WCS_SetBlockSize();
    }
}

void TBrivantaServer::ReloadSettings() {
    TSetting saved;
    bool author = false;
    const common::SettingsReadStatus status =
        server::ReadSettings(options_.settingsPath, saved, author);
    if (!status.ok) {
        log_->OutLog(status.error);
        return;
    }
    log_->OutLog("Settings changed");
    saved.Position = settings_.Position;
    plugins_.ScanPlugins(saved.PluginPath);
    ApplySettings(saved, SettingChanges(settings_, saved));
}

void TBrivantaServer::Close() {
    if (workTimer_ != 0) {
        loop_.RemoveTimer(workTimer_);
        workTimer_ = 0;
    }
    phase_ = WorkPhase::Idle;
    if (streamServer_->Active()) {
        Stop();
    }
    external_->Stop();
    interactive_ = false;
    if (encoder_) {
        auto hold = processThread_->PassLock();
        if (encoder_->Active()) {
            encoder_->Close();
        }
    }
    WCS_Stop();
    processThread_.reset();  // terminates and joins the processing thread
    encoder_.reset();
    capture_.reset();
    // The last lines before closing are the ones an operator looks for.
    log_->Flush(options_.onLogShown);
    plugins_.FreePlugins();
}

void TBrivantaServer::SetStatus(const std::string& text, TLabelColour colour) {
    Publish([&](TServerState& s) {
        s.StatusText = text;
        s.StatusColour = colour;
    });
}

TServerState TBrivantaServer::State() const {
    std::lock_guard lock(stateMutex_);
    return state_;
}

}  // namespace brivanta::server
