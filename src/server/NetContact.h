#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/Clock.h"
#include "common/TcpServer.h"
#include "protocol/AudioProtocol.h"

namespace brivanta::server {

using LogFn = std::function<void(const std::string&)>;
using IPv4Address = std::array<uint8_t, 4>;

enum TSlotState : uint8_t { ssFree = 0, ssOnline = 1, ssBanned = 2, ssOffline = 3 };

// One entry of the client table: an admitted, refused or recently lost client.
struct TClientSlot {
    TSlotState state = ssFree;
    IPv4Address address{};
    uint16_t port = 0;
    int64_t connectionTime = 0;  // FNow when the handshake began
    int64_t holdUntil = 0;       // Banned/Offline: cleared once FNow passes it; 0 = none
    uint16_t bufferLength = 0;   // milliseconds, as the client announced
    uint16_t nextSeq = 0;        // next block to send; 0xFFFF = start with the newest

    bool operator==(const TClientSlot&) const = default;
};

// One queued block. The payload is one copy shared by every peer thread that
// writes it, so a block dropped from the queue stays valid while being written.
struct TStreamBlock {
    uint16_t length = 0;
    uint16_t seq = 0;
    uint8_t type = protocol::btMusic;
    std::shared_ptr<const protocol::Bytes> payload;
};

// The server's client table, send queue and sequence counter, and the server's
// half of the handshake.
//
// Threads: the processing thread, external-input threads and the main thread
// append blocks; every peer thread logs in, reads the queue and writes its own
// slot; the main thread sets FNow, sweeps, resizes the table and clears the
// queue. The queue is guarded by a reader/writer lock (peers share it, appends
// and clears take it alone); the slot table by its own mutex. No lock is held
// while a socket is read or written, and the two locks are never nested.
class TNetSender {
  public:
    static constexpr size_t kMaxQueuedBlocks = 2048;
    static constexpr int kMaxSlotCount = 2048;
    // This system bounds every handshake read: a client that connects and stays
    // silent would otherwise hold its connection (and a place under the
    // connection limit) for ever. A time-out counts as the read failure it is.
    static constexpr int kHandshakeReadTimeoutMs = 10000;

    // outLog: the server log; connectLog: the connection log list. Both are
    // called from peer threads too.
    TNetSender(common::IClock& clock, LogFn outLog, LogFn connectLog);

    // Settings, any thread. An empty password admits every password.
    void SetPassword(const std::string& password);
    void SetStreamParams(const protocol::TStreamParams& params);
    void SetHandshakeReadTimeout(int ms);

    // Main thread, first on every work tick: FNow = the clock's tick.
    void UpdateNow();
    int64_t FNow() const { return now_; }

    // Main thread.
    void SetSlotCount(int count);
    int SlotCount() const;
    void ClearQueue();
    void Sweep();
    void ClearSlot(int index);
    std::vector<TClientSlot> Slots() const;  // a snapshot for the views

    // Any thread. Length 0 queues nothing but still drops down to the limit.
    void AddBlock(const void* data, size_t length, uint8_t blockType);
    size_t QueueSize() const;
    uint16_t LastSeq() const;  // the sequence counter

    // Peer threads.
    uint8_t Login(common::TcpConnection& connection, bool& restore);
    void SendPending(common::TcpConnection& connection, int index);
    int FindPeerSlot(const common::TcpConnection& connection) const;
    int FindSlotFor(const IPv4Address& address) const;
    uint8_t RefusalFor(const IPv4Address& address) const;
    void Refuse(TClientSlot record, int tenths);
    uint8_t TakeSlot(TClientSlot record);
    void SendResult(common::TcpConnection& connection, uint8_t code);
    void LogConnect(const std::string& text);
    void OutLog(const std::string& text);

    // Turns the connection's slot Offline with a hold of its buffer length;
    // with onlyIfOnline a slot in another state is left as it is. Returns the
    // slot's index, or -1 when the connection has none.
    int SetPeerOffline(const common::TcpConnection& connection, bool onlyIfOnline);

    // Address texts: "a.b.c.d" and "a.b.c.d:port".
    static std::string AddressText(const IPv4Address& address);
    static std::string AddressPortText(const IPv4Address& address, uint16_t port);
    // The four numbers of a dotted text; a part that is not 0..255 gives 0.
    static IPv4Address ParseAddress(const std::string& dotted);
    // The server log line of a login result ("" = none).
    static std::string LoginLogLine(uint8_t result, bool restore, const std::string& addressText);

  private:
    uint8_t ReadClientReply(common::TcpSocket& socket, TClientSlot& record, bool& restore);
    int FindBlockLocked(uint16_t seq) const;
    int FindSlotForLocked(const IPv4Address& address) const;
    int FindPeerSlotLocked(const common::TcpConnection& connection) const;
    bool NextBlockFor(uint16_t& next, TStreamBlock& block) const;
    void StoreNextSeq(int index, const TClientSlot& owner, uint16_t next);
    // Every slot write that may change a slot's address, port or freedom goes
    // through here, keeping peerIndex_ in step.
    void StoreSlotLocked(int index, const TClientSlot& record);
    static uint64_t PeerKey(const IPv4Address& address, uint16_t port);
    void CancelPeer(common::TcpConnection& connection, int index, const TClientSlot& owner);

    common::IClock& clock_;
    const LogFn outLog_;
    const LogFn connectLog_;
    std::atomic<int64_t> now_;
    std::atomic<int> handshakeReadTimeoutMs_{kHandshakeReadTimeoutMs};

    mutable std::mutex settingsMutex_;
    std::string password_;                  // guarded by settingsMutex_
    protocol::TStreamParams streamParams_;  // guarded by settingsMutex_

    mutable std::shared_mutex queueMutex_;
    std::deque<TStreamBlock> queue_;  // guarded by queueMutex_; oldest first
    uint16_t seqCounter_ = 0;         // guarded by queueMutex_

    mutable std::mutex slotsMutex_;
    std::vector<TClientSlot> slots_;  // guarded by slotsMutex_
    // Guarded by slotsMutex_: the indices (ascending) of the slots in use, by
    // address and port. Peer threads look themselves up on every 10 ms pass.
    std::unordered_map<uint64_t, std::vector<int>> peerIndex_;
};

}  // namespace brivanta::server
