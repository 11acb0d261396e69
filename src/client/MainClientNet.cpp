// The connection side of the client engine: connecting, the login, the block
// reader, disconnects and the reconnect back-off; and the decoder's events.

#include <algorithm>
#include <cmath>
#include <exception>
#include <new>

#include "client/MainClient.h"

namespace brivanta::client {

namespace {

constexpr int kDelayDecoderError = 10;
constexpr int kMaxRetrySteps = 50;
constexpr int64_t kStepMs = 100;
constexpr int64_t kExternalLeadMs = 50;

// Carriage returns removed, line feeds as blanks: one log line.
std::string OneLine(std::string text) {
    std::erase(text, '\r');
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

}  // namespace

void TBrivantaClient::Set_Delayer(int steps) {
    const int64_t now = env_.clock.NowMs();
    if (steps > 0) {
        FRetrySteps = steps;
        FRetryAt = now + steps * kStepMs;
    } else {
        FRetryAt = now + FRetrySteps * kStepMs;
        FRetrySteps += 1;
    }
    // The wait was taken before the cap: an explicit delay is waited in full once.
    FRetrySteps = std::min(FRetrySteps, kMaxRetrySteps);
}

// Every close of an open server connection raises the disconnected event.
void TBrivantaClient::CloseConnection() {
    if (!socket_.IsOpen()) {
        return;
    }
    socket_.Close();
    TCPClientDisconnected();
}

void TBrivantaClient::TCPClientDisconnected() {
    if (FState == csStop) {
        return;
    }
    OutLog("Disconnect from server");
    Set_Delayer(0);
    FState = csOffline;
}

void TBrivantaClient::DisconnectFromServer() {
    FStateSince = FNow;
    CloseConnection();
}

void TBrivantaClient::ErrorInConnection(int delay, const std::string& text) {
    try {
        CloseConnection();
        CheckManualStop();
        if (FState == csStop) {
            return;
        }
        Set_Delayer(delay);
        OutLog(OneLine(text));
        if (FState == csConnect) {
            FState = csOffline;
        }
    } catch (...) {  // a failure path never ends the client
    }
}

void TBrivantaClient::ConnectToServer() {
    if (socket_.IsOpen()) {
        OutLog("Disconnect from server");
        CloseConnection();
    }
    FLeftDb = FRightDb = -100;
    if (PlayerBuffered() <= 0) {
        ShowSetting();
    }
    const int rc =
        socket_.Connect(settings_.IP, settings_.Port, StreamReadTimeoutMs(settings_.Buffer));
    if (rc != 0) {
        socket_.Close();
        ErrorInConnection(0, common::SocketErrorText(rc));
        return;
    }
    FHost = settings_.IP;
    FHostPort = settings_.Port;
    try {
        TCPClientConnected();
    } catch (const std::exception& error) {
        ErrorInConnection(0, error.what());  // never left half logged in
    }
}

void TBrivantaClient::TCPClientConnected() {
    FState = csLogin;
    ServerAnnouncement announcement;
    const LoginStep read = ReadServerAnnouncement(socket_, announcement);
    if (announcement.serverTime != 0 && settings_.SynhroTime && env_.setSystemTime) {
        env_.setSystemTime(announcement.serverTime);
    }
    if (!read.ok) {
        ErrorInConnection(read.delayTenths, read.logText);
        return;
    }
    if (!CompleteLogin(announcement)) {
        return;
    }
    FCodecText = acm_->DriverNameById(acm_->Current()->DriverId);
    FBitrateText = acm_->Current()->Name;
    if (player_ && !player_->Active()) {
        player_->SelectByName(settings_.Device);
        player_->Open();
    }
    if (FNextSeq == -1) {
        feed_.PutInList(feed_.Levels().Target);
    }
    FState = csOnline;
    EnableTimerExternal(true);
    FStateSince = FNow;
    ++FConnects;
}

// Opens the decoder and answers the server; false when the login failed.
bool TBrivantaClient::CompleteLogin(const ServerAnnouncement& announcement) {
    const protocol::TStreamParams& params = announcement.params;
    settings_.Buffer = ClampBufferSeconds(settings_.Buffer);
    feed_.ApplyBitrate(*acm_, static_cast<int>(params.format.nSamplesPerSec),
                       params.format.nChannels, params.format.wBitsPerSample);
    const audio::TACMFormatItem* decoder =
        feed_.TryToStartDecoder(*acm_, params.format, params.driverName);
    feed_.BufferToByte(BufferTenths(settings_.Buffer));
    if (PlayerBuffered() <= 0) {
        FNextSeq = -1;
    }
    const protocol::TClientStart start{
        AnnouncedBufferLength(settings_.Buffer),
        FNextSeq < 0 ? protocol::kSeqNewest : static_cast<uint16_t>(FNextSeq)};
    const LoginStep answer =
        WriteClientAnswer(socket_, settings_.Password, start, decoder != nullptr);
    if (decoder == nullptr) {
        FCodecText = params.driverName;
        FBitrateText = params.formatName;
    }
    if (!answer.ok) {
        ErrorInConnection(answer.delayTenths, answer.logText);
        return false;
    }
    return true;
}

void TBrivantaClient::OnlineTick() {
    CheckManualStop();
    if (!socket_.IsOpen()) {
        return;
    }
    socket_.SetReadTimeout(StreamReadTimeoutMs(settings_.Buffer));
    protocol::TBlockHeader header;
    protocol::Bytes payload;
    if (ReadStreamBlock(socket_, header, payload) != 0) {
        DisconnectFromServer();  // FNextSeq stays: the reconnect resumes there
        return;
    }
    try {
        DispatchBlock(header, payload);
    } catch (const std::exception& error) {
        OutLog(error.what());
        DisconnectFromServer();
        return;
    }
    if (header.type != protocol::btMessage) {
        FNextSeq = protocol::NextSeq(header.seq);
    }
    if (FState == csOnline) {
        LowBufferCheck();
    }
}

void TBrivantaClient::DispatchBlock(const protocol::TBlockHeader& header,
                                    const protocol::Bytes& payload) {
    if (header.type == protocol::btMusic) {
        WRK_Protocol_Music(payload);
    } else if (header.type == protocol::btMessage) {
        WRK_Protocol_Message(header, payload);
    } else {
        WRK_Protocol_Define(header, payload);
    }
}

void TBrivantaClient::WRK_Protocol_Music(const protocol::Bytes& payload) {
    if (FNextSeq == -1) {
        feed_.PutInList(feed_.Levels().Target);
    }
    acm_->Convert(payload.data(), payload.size());
    FRetrySteps = 0;
}

void TBrivantaClient::WRK_Protocol_Message(const protocol::TBlockHeader& header,
                                           const protocol::Bytes& payload) {
    if (header.seq != protocol::mcLoginResult || payload.empty()) {
        return;
    }
    if (const auto text = ServerRefusalText(payload[0])) {
        OutLog(*text);
        Set_Delayer(0);
    }
}

void TBrivantaClient::WRK_Protocol_Define(const protocol::TBlockHeader& header,
                                          const protocol::Bytes& payload) {
    try {
        const auto heard = static_cast<int64_t>(std::trunc(PlayerBuffered() * 1000.0));
        FExternalQueue.push_back(TExternalBlock{env_.clock.NowMs() + heard - kExternalLeadMs,
                                                header.type, header.length, payload});
    } catch (const std::bad_alloc&) {  // no memory for the copy: the block is dropped
    }
}

void TBrivantaClient::EnableTimerExternal(bool enabled) {
    if (enabled && FTimerExternal == 0) {
        FTimerExternal = loop_.AddTimer(10, [weak = std::weak_ptr(alive_)] {
            if (auto self = weak.lock()) {
                (*self)->TimerExternalTick();
            }
        });
    } else if (!enabled && FTimerExternal != 0) {
        loop_.RemoveTimer(FTimerExternal);
        FTimerExternal = 0;
    }
}

// Sends the blocks that are due; later blocks may be due before earlier ones.
void TBrivantaClient::TimerExternalTick() {
    for (auto it = FExternalQueue.begin(); it != FExternalQueue.end();) {
        if (it->Type == protocol::btMusic) {
            it = FExternalQueue.erase(it);
        } else if (it->Due > FNow) {
            ++it;
        } else {
            const TExternalBlock block = std::move(*it);
            it = FExternalQueue.erase(it);
            SendExternalData(block);
        }
    }
}

void TBrivantaClient::SendExternalData(const TExternalBlock& block) {
    if (settings_.ExternalMode == 1) {
        if (block.Data.size() >= 4) {
            const protocol::ByteView bytes(block.Data);
            env_.link.BroadcastData(protocol::GetU16(bytes, 0), protocol::GetU16(bytes, 2),
                                    block.Data.data() + 4, block.Data.size() - 4);
        }
    } else if (settings_.ExternalMode == 2 && !FLanPortNoted) {
        FLanPortNoted = true;
        OutLog("External data to a LAN port is not forwarded by this build");
    }
}

void TBrivantaClient::LowBufferCheck() {
    if (settings_.MinBuffer * settings_.Buffer / 100.0 > PlayerBuffered()) {
        if (!FLowBufferLatch) {
            FLowBufferLatch = true;
            Set_Delayer(1);
            FState = csOffline;  // the next attempt first closes this connection
        }
    } else {
        FLowBufferLatch = false;
    }
}

void TBrivantaClient::ACMHaveStart() {
    if (player_ && player_->Active() && !PlayerOnDevice()) {
        PlayerFinish();
    }
    feed_.ResetRateControl();
    FState = csOnline;
}

void TBrivantaClient::ACMHaveData(const uint8_t* data, uint32_t size) {
    if (!player_) {
        return;
    }
    if (!player_->Active()) {
        if (!player_->SelectByName(settings_.Device) || player_->Open() != 0) {
            return;  // dropped: no device to play it on
        }
    }
    feed_.SendDataToList(data, size);
}

void TBrivantaClient::ACMHaveError(const std::string& text) {
    OutLog("Error decoder: " + text);
    CloseConnection();
    Set_Delayer(kDelayDecoderError);
}

void TBrivantaClient::WCP_BlockPlayed(TWavePlayer& player, const uint8_t* data, int32_t size,
                                      const uint8_t* scaled) {
    const bool showOriginal = settings_.Mode >= 2 && settings_.OriginalLevel;
    feed_.BlockPlayed(player, data, size, scaled, showOriginal);
}

}  // namespace brivanta::client
