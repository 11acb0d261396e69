#include "client/MainClient.h"

#include <cstdio>

#include "Version.h"

namespace brivanta::client {

TBrivantaClient::TBrivantaClient(common::EventLoop& loop, ClientEnvironment environment)
    : loop_(loop), env_(std::move(environment)), feed_(env_.clock, plugins_, env_.link) {}

TBrivantaClient::~TBrivantaClient() = default;

void TBrivantaClient::OutLog(const std::string& text) {
    env_.log.OutLog(text);
}

common::SettingsReadStatus TBrivantaClient::FormCreate() {
    TSetting settings;
    const auto status = ReadSettings(env_.settingsPath, settings);
    if (status.ok) {
        FormCreate(settings);
    }
    return status;
}

void TBrivantaClient::FormCreate(const TSetting& settings) {
    if (FCreated) {
        return;
    }
    FCreated = true;
    FExternalQueue.clear();
    FRetryAt = env_.clock.NowMs();
    FRetrySteps = 0;
    FBusy = false;
    char caption[96];
    std::snprintf(caption, sizeof caption, "Brivanta Client (ver.%d.%d.%d.%d)", kVersionMajor,
                  kVersionMinor, kVersionPatch, kVersionBuild);
    FCaptionText = caption;
    OutLog("Start program");
    FState = csStop;
    plugins_.InitPlugins();
    OutLog("Read settings");
    settings_ = settings;
    FVolume = settings_.Mode == 2 ? 0 : 100;
    ShowSetting();
    MainInit();
    loop_.SetErrorHandler([weak = std::weak_ptr(alive_)](const std::string& text) {
        if (auto self = weak.lock()) {
            (*self)->OutLog(text);
        }
    });
    FPacing = true;
    ScheduleCycle();
    PublishStatus();
}

void TBrivantaClient::MainInit() {
    plugins_.InitPlugins();
    FDeviceState = dsNone;
    const int64_t now = env_.clock.NowMs();
    FDeviceDeadline = now + static_cast<int64_t>(settings_.Wait) * 1000;
    FStateSince = now;
    FNextSeq = -1;
    acm_ = std::make_unique<audio::TACM>(audio::TACM::kDecode, 44100, 2, 0, true, env_.codecs);
    acm_->SetBufferSize(44100);
    acm_->SetThreshold(512);
    acm_->OnHaveData = [this](audio::TACM&, const uint8_t* data, uint32_t size) {
        ACMHaveData(data, size);
    };
    acm_->OnStart = [this](audio::TACM&) { ACMHaveStart(); };
    acm_->OnError = [this](audio::TACM&, const std::string& text) { ACMHaveError(text); };
    audio::LoadPluginsInUse(plugins_, settings_.PluginPath, settings_.PluginsInUse,
                            [this](const std::string& text) { OutLog(text); });
}

// The next cycle starts 10 ms after this one has ended, so cycles never
// overlap however long one takes.
void TBrivantaClient::ScheduleCycle() {
    loop_.PostAfter(kCyclePauseMs, [weak = std::weak_ptr(alive_)] {
        auto self = weak.lock();
        if (!self || !(*self)->FPacing) {
            return;
        }
        (*self)->TimerTick();
        (*self)->ScheduleCycle();
    });
}

void TBrivantaClient::FormClose() {
    if (!FCreated || FClosed) {
        return;
    }
    FClosed = true;
    OutLog("Stop client");
    FState = csStop;
    CheckManualStop();
    FPacing = false;
    EnableTimerExternal(false);
    FExternalQueue.clear();
    CheckManualStop();
    try {
        if (acm_ && acm_->Active()) {
            acm_->Close();
        }
        acm_.reset();
    } catch (...) {  // shutdown goes on
    }
    try {
        PlayerFinish();
        feed_.SetPlayer(nullptr);
        player_.reset();
    } catch (...) {  // shutdown goes on
    }
    plugins_.FreePlugins();
    OutLog("Finish");
    PublishStatus();
}

void TBrivantaClient::ApplySettings(const TSetting& saved) {
    if (!FCreated || FClosed) {
        return;
    }
    settings_ = saved;
    ShowSetting();
    feed_.BufferToByte(BufferTenths(settings_.Buffer));
    if (player_ && player_->Active() && !PlayerOnDevice()) {
        player_->Close();
        player_->SelectByName(settings_.Device);
        player_->Open();
        feed_.PutInList(feed_.Levels().Target);
    }
    if (socket_.IsOpen() && (settings_.IP != FHost || settings_.Port != FHostPort)) {
        CloseConnection();
        FState = csConnect;
    }
    PublishStatus();
}

void TBrivantaClient::ReloadSettings() {
    TSetting saved;
    const auto status = ReadSettings(env_.settingsPath, saved);
    if (!status.ok) {
        OutLog(status.error);
        return;
    }
    OutLog("Read settings");
    ApplySettings(saved);
}

void TBrivantaClient::RequestPlay() {
    PostToLoop([](TBrivantaClient& self) {
        if (self.FClosed) {
            return;
        }
        if (self.FDeviceState != dsOpen) {
            self.FPlayRequested = true;
        } else if (self.FState == csStop) {
            self.SBRunClick();
        }
    });
}

void TBrivantaClient::RequestStop() {
    PostToLoop([](TBrivantaClient& self) {
        if (!self.FClosed && self.FState != csStop) {
            self.SBStopClick();
        }
    });
}

void TBrivantaClient::TimerTick() {
    if (FBusy) {
        return;
    }
    struct BusyFlag {
        bool& flag;
        explicit BusyFlag(bool& f) : flag(f) { flag = true; }
        ~BusyFlag() { flag = false; }
    } busy(FBusy);
    FNow = env_.clock.NowMs();
    if (FDeviceState != dsOpen) {
        TryOpenDevice();
        if (FDeviceState != dsOpen) {
            PublishStatus();
            return;
        }
    }
    switch (FState) {
        case csOffline:
            WaitTick();
            break;
        case csConnect:
            ConnectToServer();
            break;
        case csOnline:
            OnlineTick();
            break;
        case csStop:
        case csLogin:
            break;
    }
    ShowCLientStatus();
    PublishStatus();
}

void TBrivantaClient::TryOpenDevice() {
    if (player_) {
        player_->RefreshDevices();
    } else {
        OutLog("Prepare output devices");
        player_ = std::make_unique<TWavePlayer>(env_.devices);
        player_->OnBlockPlayed = [this](TWavePlayer& player, const uint8_t* data, int32_t size,
                                        const uint8_t* played) {
            WCP_BlockPlayed(player, data, size, played);
        };
        player_->SetVolume(FVolume);
        feed_.SetPlayer(player_.get());
    }
    const int32_t index = player_->IndexOfDevice(settings_.Device);
    if (index < 0) {
        if (FNow >= FDeviceDeadline && FDeviceState == dsNone) {
            env_.link.Broadcast(kNotifyDeviceMissing, 0, false);
            OutLog("Error! Output devices don't found");
            FDeviceState = dsMissing;
            FState = csStop;
        }
        return;
    }
    if (FDeviceState == dsMissing) {
        env_.link.Broadcast(kNotifyDeviceFound, 0, false);
    }
    FDeviceState = dsOpen;
    player_->SelectDevice(index);
    if (settings_.Mode == 1) {
        FState = csConnect;
    } else {
        OutLog("Client ready");
        if (FPlayRequested && FState == csStop) {
            FPlayRequested = false;
            SBRunClick();
        }
    }
}

void TBrivantaClient::WaitTick() {
    if (FNow >= FRetryAt) {
        FState = csConnect;
    }
}

void TBrivantaClient::ShowCLientStatus() {
    if (!player_) {
        return;
    }
    if (player_->Active()) {
        player_->Poll();
    }
    if (PlayerBuffered() <= 0 && FState == csStop) {
        PlayerFinish();
        FLeftDb = FRightDb = -100;
    } else if (PlayerBuffered() > 0) {
        FLeftDb = player_->LeftLevel();
        FRightDb = player_->RightLevel();
    } else {
        FLeftDb = FRightDb = -100;
    }
}

void TBrivantaClient::ShowSetting() {
    std::lock_guard lock(statusMutex_);
    status_.caption = settings_.Name.empty() ? FCaptionText : settings_.Name + " : " + FCaptionText;
    status_.device = settings_.Device;
    status_.server = settings_.IP + ":" + std::to_string(settings_.Port);
}

void TBrivantaClient::PublishStatus() {
    std::lock_guard lock(statusMutex_);
    status_.state = FState;
    status_.stateText = StatusText(FState, feed_.Rate().Correction);
    status_.deviceState = FDeviceState;
    status_.buffered = PlayerBuffered();
    status_.highLevel = feed_.Levels().High;
    status_.correction = feed_.Rate().Correction;
    status_.overflow = feed_.Overflow();
    status_.nextSeq = FNextSeq;
    status_.connects = FConnects;
    status_.correctedChunks = feed_.CorrectedChunks();
    status_.droppedBytes = feed_.DroppedBytes();
    status_.retryAt = FRetryAt;
    status_.retrySteps = FRetrySteps;
    status_.leftDb = FLeftDb;
    status_.rightDb = FRightDb;
    status_.codec = FCodecText;
    status_.bitrate = FBitrateText;
    status_.externalQueued = FExternalQueue.size();
    status_.playVisible = FState == csStop && settings_.Mode < 2;
    status_.stopVisible = FState != csStop && settings_.Mode < 2;
}

TClientStatus TBrivantaClient::Status() const {
    std::lock_guard lock(statusMutex_);
    return status_;
}

void TBrivantaClient::Run() {
    if (FState != csStop) {
        return;
    }
    FRetryAt = 0;
    FRetrySteps = 0;
    FStateSince = FNow;
    FState = csConnect;
    FLowBufferLatch = true;  // the first low-buffer check after a start cannot fire
}

void TBrivantaClient::SBRunClick() {
    OutLog(FNextSeq == -1 ? "Start player" : "Restore connection");
    Run();
}

void TBrivantaClient::SBStopClick() {
    OutLog("Manual stop");
    FState = csStop;
    CheckManualStop();
}

void TBrivantaClient::CheckManualStop() {
    if (FState != csStop) {
        return;
    }
    CloseConnection();
    EnableTimerExternal(false);
    FExternalQueue.clear();
}

void TBrivantaClient::PlayerFinish() {
    if (player_) {
        player_->Close();
    }
    FNextSeq = -1;
    CloseConnection();
}

double TBrivantaClient::PlayerBuffered() const {
    return player_ ? player_->Buffered() : 0.0;
}

bool TBrivantaClient::PlayerOnDevice() const {
    return player_ && player_->DeviceName(player_->CurrentDevice()) == settings_.Device;
}

}  // namespace brivanta::client
