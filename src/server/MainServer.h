#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "audio/ACM.h"
#include "audio/PlugIns.h"
#include "audio/WaveDevice.h"
#include "common/EventLoop.h"
#include "server/ExternalReceiver.h"
#include "server/NetContact.h"
#include "server/ProcessThread.h"
#include "server/ServerLog.h"
#include "server/ServerSetting.h"
#include "server/ServerState.h"
#include "server/StreamServer.h"
#include "server/WCapture.h"

namespace brivanta::server {

// The streaming server: brings the audio path up (settings, start-up delay,
// capture device, plug-ins, encoder, listener), starts and stops it, reacts
// to changed settings and closes it down in order.
//
// Threads: every public member but State() runs on the engine's loop thread
// (the server's main thread); other threads post into the loop. The
// processing thread runs capture, plug-ins, encoder and queue appends; peer
// and external-input threads belong to the listeners. State() may be called
// from any thread.
class TBrivantaServer {
  public:
    struct Options {
        std::string settingsPath;
        std::string bindAddress = "0.0.0.0";
        // Each log entry as it is shown (once per work tick), e.g. for stdout.
        std::function<void(const TLogEntry&)> onLogShown;
        // A failure the user must be told about at once (window: a message box).
        std::function<void(const std::string&)> onErrorMessage;
    };

    TBrivantaServer(common::EventLoop& loop, audio::IWaveBackend& backend, Options options);
    ~TBrivantaServer();
    TBrivantaServer(const TBrivantaServer&) = delete;
    TBrivantaServer& operator=(const TBrivantaServer&) = delete;

    // FormCreate: starts the work timer; the settings are read on its first tick.
    void Start();
    // FormClose: stops streaming and frees the audio path in order.
    void Close();

    void Run();
    void Stop();
    // A click on the status label: ends the start-up delay at the next tick.
    void LStatusClick();
    // Reacts to newly saved settings as the settings button does.
    void ApplySettings(const TSetting& saved, uint32_t changes);
    // Re-reads the settings file and applies what changed.
    void ReloadSettings();

    TServerState State() const;
    const TSetting& Settings() const { return settings_; }
    TNetSender& NetSender() { return *netSender_; }
    TServerLog& Log() { return *log_; }
    audio::TPluginHost& Plugins() { return plugins_; }
    uint16_t StreamPort() const { return streamServer_->LocalPort(); }
    uint16_t ExternalPort() const { return external_->LocalPort(); }
    bool Listening() const { return streamServer_->Active(); }

    void OutLog(const std::string& text) { log_->OutLog(text); }

  private:
    enum class WorkPhase { Idle, ReadSettings, Delay, Init, Work };

    void TimerWork();
    void ReadSettingTimer();
    void TimerDelayTimer();
    void TimerWork_Init();
    void TimerWorkTimer();

    void Prepare_Plugins();
    bool Try_Start_InputDevice();
    int WCS_Start(int32_t position);
    void WCS_SetBlockSize();
    void WCS_Stop();
    bool Prepare_ACM();
    void Prepare_Server();
    void Run_External_Server();
    void StopServer();

    void ACMStart();
    void ACMStop();
    void WaveHaveData(uint8_t* data, int32_t& size);
    void AcmHaveData(const uint8_t* data, uint32_t size);
    void ProcessPass();

    void PublishViews();
    void SetStatus(const std::string& text, TLabelColour colour);
    template <typename Change>
    void Publish(Change change) {
        std::lock_guard lock(stateMutex_);
        change(state_);
    }

    common::EventLoop& loop_;
    audio::IWaveBackend& backend_;
    const Options options_;
    const std::string titleText_;

    // Owned by the main thread unless said otherwise.
    TSetting settings_;
    bool author_ = false;
    WorkPhase phase_ = WorkPhase::Idle;
    common::EventLoop::TimerId workTimer_ = 0;
    int64_t delayUntil_ = 0;
    int workTicks_ = 0;
    bool interactive_ = false;                     // FInteractive: ExtMode is 2
    std::atomic<bool> connectionsChanged_{false};  // set by peer threads

    std::unique_ptr<TServerLog> log_;  // any thread logs
    audio::TPluginHost plugins_;       // chain run by the processing thread
    std::unique_ptr<TNetSender> netSender_;
    std::unique_ptr<StreamServer> streamServer_;
    std::unique_ptr<TExternalReceiver> external_;
    // The capture and the encoder are used by the processing thread during a
    // pass; the main thread changes them only under the thread's PassLock.
    std::unique_ptr<TWaveCapture> capture_;
    std::unique_ptr<audio::TACM> encoder_;
    std::unique_ptr<TProcessThread> processThread_;

    mutable std::mutex stateMutex_;
    TServerState state_;  // guarded by stateMutex_
};

}  // namespace brivanta::server
