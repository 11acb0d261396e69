#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/ACM.h"
#include "audio/PlugIns.h"
#include "audio/WaveDevice.h"
#include "client/ClientFeed.h"
#include "client/ClientLink.h"
#include "client/ClientLog.h"
#include "client/ClientSetting.h"
#include "client/ClientStatus.h"
#include "client/StreamLogin.h"
#include "client/WPlayer.h"
#include "common/Clock.h"
#include "common/EventLoop.h"
#include "common/TcpSocket.h"

namespace brivanta::client {

// One queued block of external data, due when the audio received with it is
// heard (50 ms early).
struct TExternalBlock {
    int64_t Due = 0;  // ms tick
    uint8_t Type = 0;
    uint16_t Size = 0;
    std::vector<uint8_t> Data;
};

// What the client engine works with; everything outlives the engine.
struct ClientEnvironment {
    common::IClock& clock;
    audio::IWaveBackend& devices;
    IClientLink& link;
    TClientLog& log;
    std::shared_ptr<audio::msacm::IAcm> codecs = audio::msacm::CreateCodecLayer();
    std::string settingsPath;
    // Sets the computer's UTC clock (setting SynhroTime); failures are silent.
    std::function<void(common::DayCount)> setSystemTime;
};

// The streaming client: finds the output device, connects to the server,
// logs in, reads one stream block per main cycle, decodes it into the feed,
// reconnects after every failure with a growing back-off and resumes the
// stream while its player still holds audio.
//
// Threads: the engine's state belongs to the thread that drives its loop
// (what the client calls its main thread): the main cycle, the blocking
// socket calls with their time-outs, the decoder's events and the player
// poll run there. Every public member but RequestPlay, RequestStop and
// Status runs on that thread; those post into the loop or read the
// published status under its lock. The log may be read from any thread.
class TBrivantaClient {
  public:
    static constexpr int64_t kCyclePauseMs = 10;

    TBrivantaClient(common::EventLoop& loop, ClientEnvironment environment);
    ~TBrivantaClient();
    TBrivantaClient(const TBrivantaClient&) = delete;
    TBrivantaClient& operator=(const TBrivantaClient&) = delete;

    // Start-up: reads the settings file (a missing file gives the defaults),
    // creates the decoder, loads the plug-ins and starts pacing the main
    // cycle. A failed read is returned and nothing starts.
    common::SettingsReadStatus FormCreate();
    // The same with settings already read.
    void FormCreate(const TSetting& settings);
    // Shutdown in order: stops the cycle, the connection, the decoder and the
    // player. The engine does nothing more afterwards; calling it again does
    // nothing.
    void FormClose();

    // A saved settings change: new levels at once, playback moved to a new
    // Device, an immediate reconnect when IP or Port changed.
    void ApplySettings(const TSetting& saved);
    // Reads the settings file again and applies it; a failed read is logged
    // and changes nothing.
    void ReloadSettings();

    // Commands from any thread, run on the loop.
    void RequestPlay();  // a press of Play, at once or once the device is found
    void RequestStop();  // a press of Stop

    TClientStatus Status() const;

    // The main cycle and the operations the window and the local link call
    // (loop thread).
    void TimerTick();
    void SBRunClick();
    void SBStopClick();
    void Run();
    void PlayerFinish();
    void CheckManualStop();
    void Set_Delayer(int steps);
    const TSetting& Settings() const { return settings_; }
    const std::deque<TExternalBlock>& ExternalQueue() const { return FExternalQueue; }

  private:
    // Start-up and the cycle (MainClient.cpp).
    void MainInit();
    void ScheduleCycle();
    void TryOpenDevice();
    void WaitTick();
    void ShowCLientStatus();
    void ShowSetting();
    void PublishStatus();
    void OutLog(const std::string& text);

    // The connection (MainClientNet.cpp).
    void ConnectToServer();
    void TCPClientConnected();
    bool CompleteLogin(const ServerAnnouncement& announcement);
    void OnlineTick();
    void DispatchBlock(const protocol::TBlockHeader& header, const protocol::Bytes& payload);
    void WRK_Protocol_Music(const protocol::Bytes& payload);
    void WRK_Protocol_Message(const protocol::TBlockHeader& header, const protocol::Bytes& payload);
    void WRK_Protocol_Define(const protocol::TBlockHeader& header, const protocol::Bytes& payload);
    void LowBufferCheck();
    void EnableTimerExternal(bool enabled);
    void TimerExternalTick();
    void SendExternalData(const TExternalBlock& block);
    void TCPClientDisconnected();
    void DisconnectFromServer();
    void CloseConnection();
    void ErrorInConnection(int delay, const std::string& text);

    // Decoder events (MainClientNet.cpp).
    void ACMHaveStart();
    void ACMHaveData(const uint8_t* data, uint32_t size);
    void ACMHaveError(const std::string& text);
    void WCP_BlockPlayed(TWavePlayer& player, const uint8_t* data, int32_t size,
                         const uint8_t* scaled);

    template <typename Fn>
    void PostToLoop(Fn fn) {
        loop_.Post([weak = std::weak_ptr(alive_), fn] {
            if (auto self = weak.lock()) {
                fn(**self);
            }
        });
    }
    double PlayerBuffered() const;
    bool PlayerOnDevice() const;

    common::EventLoop& loop_;
    ClientEnvironment env_;
    bool FCreated = false;
    bool FClosed = false;
    // Tasks posted into the loop hold it weakly, so that one left in the loop
    // after the engine is gone does nothing.
    std::shared_ptr<TBrivantaClient*> alive_ = std::make_shared<TBrivantaClient*>(this);

    // Loop thread only.
    TSetting settings_;
    bool FBusy = false;
    int64_t FNow = 0;
    TClientState FState = csStop;
    int64_t FDeviceDeadline = 0;
    TDeviceState FDeviceState = dsNone;
    int64_t FStateSince = 0;
    int32_t FNextSeq = -1;
    int64_t FRetryAt = 0;
    int32_t FRetrySteps = 0;
    bool FLowBufferLatch = false;
    int32_t FVolume = 100;
    std::string FCaptionText;
    std::deque<TExternalBlock> FExternalQueue;
    common::EventLoop::TimerId FTimerExternal = 0;  // 0 while disabled
    bool FLanPortNoted = false;
    bool FPacing = false;         // the pacing of the main cycle is running
    bool FPlayRequested = false;  // Play pressed before the device was found
    uint64_t FConnects = 0;
    std::string FHost;  // where the open connection goes
    uint16_t FHostPort = 0;
    std::string FCodecText;
    std::string FBitrateText;
    double FLeftDb = -100;
    double FRightDb = -100;

    audio::TPluginHost plugins_;
    std::unique_ptr<audio::TACM> acm_;
    std::unique_ptr<TWavePlayer> player_;
    TClientFeed feed_;
    common::TcpSocket socket_;

    mutable std::mutex statusMutex_;
    TClientStatus status_;  // guarded by statusMutex_
};

}  // namespace brivanta::client
