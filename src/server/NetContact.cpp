#include "server/NetContact.h"

#include <algorithm>
#include <cstring>

namespace brivanta::server {

namespace {

using protocol::Bytes;

// Refusal times in tenths of a second.
constexpr int kRefuseAnswerTenths = 20;   // a fault in the client's answer
constexpr int kRefuseReadTenths = 5;      // a read failure or time-out
constexpr int kRefuseSendInfoTenths = 1;  // our own announcement could not be written

bool SameClient(const TClientSlot& slot, const TClientSlot& owner) {
    return slot.state == ssOnline && slot.address == owner.address && slot.port == owner.port &&
           slot.connectionTime == owner.connectionTime;
}

}  // namespace

TNetSender::TNetSender(common::IClock& clock, LogFn outLog, LogFn connectLog)
    : clock_(clock),
      outLog_(std::move(outLog)),
      connectLog_(std::move(connectLog)),
      now_(clock.NowMs()) {}

void TNetSender::SetPassword(const std::string& password) {
    std::lock_guard lock(settingsMutex_);
    password_ = password;
}

void TNetSender::SetStreamParams(const protocol::TStreamParams& params) {
    std::lock_guard lock(settingsMutex_);
    streamParams_ = params;
}

void TNetSender::SetHandshakeReadTimeout(int ms) {
    handshakeReadTimeoutMs_ = ms;
}

void TNetSender::UpdateNow() {
    now_ = clock_.NowMs();
}

void TNetSender::SetSlotCount(int count) {
    const auto size = static_cast<size_t>(std::clamp(count, 0, kMaxSlotCount));
    std::lock_guard lock(slotsMutex_);
    for (size_t i = size; i < slots_.size(); ++i) {
        StoreSlotLocked(static_cast<int>(i), TClientSlot{});
    }
    slots_.resize(size);  // slots added by growing are free
}

uint64_t TNetSender::PeerKey(const IPv4Address& address, uint16_t port) {
    uint64_t key = 0;
    for (const uint8_t part : address) {
        key = (key << 8) | part;
    }
    return (key << 16) | port;
}

void TNetSender::StoreSlotLocked(int index, const TClientSlot& record) {
    auto& slot = slots_[static_cast<size_t>(index)];
    if (slot.state != ssFree) {
        const auto found = peerIndex_.find(PeerKey(slot.address, slot.port));
        auto& indices = found->second;
        indices.erase(std::find(indices.begin(), indices.end(), index));
        if (indices.empty()) {
            peerIndex_.erase(found);
        }
    }
    slot = record;
    if (slot.state != ssFree) {
        auto& indices = peerIndex_[PeerKey(slot.address, slot.port)];
        indices.insert(std::lower_bound(indices.begin(), indices.end(), index), index);
    }
}

int TNetSender::SlotCount() const {
    std::lock_guard lock(slotsMutex_);
    return static_cast<int>(slots_.size());
}

void TNetSender::ClearQueue() {
    std::unique_lock lock(queueMutex_);
    queue_.clear();
}

void TNetSender::Sweep() {
    const int64_t now = now_;
    std::lock_guard lock(slotsMutex_);
    for (size_t i = 0; i < slots_.size(); ++i) {
        const auto& slot = slots_[i];
        if (slot.state != ssFree && slot.holdUntil > 0 && slot.holdUntil < now) {
            StoreSlotLocked(static_cast<int>(i), TClientSlot{});
        }
    }
}

void TNetSender::ClearSlot(int index) {
    std::lock_guard lock(slotsMutex_);
    if (index >= 0 && index < static_cast<int>(slots_.size())) {
        StoreSlotLocked(index, TClientSlot{});
    }
}

std::vector<TClientSlot> TNetSender::Slots() const {
    std::lock_guard lock(slotsMutex_);
    return slots_;
}

void TNetSender::AddBlock(const void* data, size_t length, uint8_t blockType) {
    // The copy is made before the lock is taken; peers are held up only by the append.
    std::shared_ptr<const Bytes> payload;
    const size_t kept = std::min<size_t>(length, 0xFFFF);
    if (kept > 0) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        payload = std::make_shared<const Bytes>(bytes, bytes + kept);
    }
    std::unique_lock lock(queueMutex_);
    while (queue_.size() >= kMaxQueuedBlocks) {
        queue_.pop_front();
    }
    if (!payload) {
        return;
    }
    seqCounter_ = protocol::NextSeq(seqCounter_);
    queue_.push_back(
        TStreamBlock{static_cast<uint16_t>(kept), seqCounter_, blockType, std::move(payload)});
}

size_t TNetSender::QueueSize() const {
    std::shared_lock lock(queueMutex_);
    return queue_.size();
}

uint16_t TNetSender::LastSeq() const {
    std::shared_lock lock(queueMutex_);
    return seqCounter_;
}

// The queue always holds consecutive sequence numbers (each append takes the
// next one, nothing is removed from the middle), so the block with number seq
// lies at a fixed distance from the newest: the same answer as a search from
// the newest block, without the search.
int TNetSender::FindBlockLocked(uint16_t seq) const {
    if (queue_.empty()) {
        return -1;
    }
    const int newest = static_cast<int>(queue_.size()) - 1;
    if (seq == protocol::kSeqNewest) {
        return newest;
    }
    const uint32_t distance =
        (queue_.back().seq + protocol::kSeqModulus - seq) % protocol::kSeqModulus;
    if (distance > static_cast<uint32_t>(newest)) {
        return -1;
    }
    const int index = newest - static_cast<int>(distance);
    return queue_[static_cast<size_t>(index)].seq == seq ? index : -1;
}

// Fetches the block numbered `next` (resolving 0xFFFF to the newest block).
bool TNetSender::NextBlockFor(uint16_t& next, TStreamBlock& block) const {
    std::shared_lock lock(queueMutex_);
    if (queue_.empty()) {
        return false;
    }
    if (next == protocol::kSeqNewest) {
        next = queue_.back().seq;
    }
    const int index = FindBlockLocked(next);
    if (index < 0) {
        return false;
    }
    block = queue_[static_cast<size_t>(index)];
    return true;
}

void TNetSender::SendPending(common::TcpConnection& connection, int index) {
    TClientSlot owner;
    {
        std::lock_guard lock(slotsMutex_);
        if (index < 0 || index >= static_cast<int>(slots_.size()) ||
            slots_[static_cast<size_t>(index)].state != ssOnline) {
            return;
        }
        owner = slots_[static_cast<size_t>(index)];
    }
    uint16_t next = owner.nextSeq;
    TStreamBlock block;
    while (NextBlockFor(next, block)) {
        Bytes header;
        protocol::EncodeBlockHeader(protocol::TBlockHeader{block.length, block.seq, block.type},
                                    header);
        if (connection.Socket().WriteParts({header, *block.payload}) != 0) {
            CancelPeer(connection, index, owner);
            return;
        }
        next = protocol::NextSeq(next);
    }
    StoreNextSeq(index, owner, next);
}

void TNetSender::StoreNextSeq(int index, const TClientSlot& owner, uint16_t next) {
    std::lock_guard lock(slotsMutex_);
    if (index < static_cast<int>(slots_.size()) &&
        SameClient(slots_[static_cast<size_t>(index)], owner)) {
        slots_[static_cast<size_t>(index)].nextSeq = next;
    }
}

void TNetSender::CancelPeer(common::TcpConnection& connection, int index,
                            const TClientSlot& owner) {
    {
        std::lock_guard lock(slotsMutex_);
        if (index < static_cast<int>(slots_.size()) &&
            SameClient(slots_[static_cast<size_t>(index)], owner)) {
            auto& slot = slots_[static_cast<size_t>(index)];
            slot.state = ssOffline;
            slot.holdUntil = now_ + slot.bufferLength;
        }
    }
    LogConnect("Cancel: " + AddressPortText(owner.address, owner.port));
    connection.Close();
}

int TNetSender::FindPeerSlotLocked(const common::TcpConnection& connection) const {
    if (!connection.PeerBound()) {
        return -1;
    }
    // Free slots hold 0.0.0.0:0, which no bound peer has, so the index of the
    // slots in use gives the first match from index 0 without a scan.
    const auto found =
        peerIndex_.find(PeerKey(ParseAddress(connection.PeerAddress()), connection.PeerPort()));
    return found == peerIndex_.end() ? -1 : found->second.front();
}

int TNetSender::FindPeerSlot(const common::TcpConnection& connection) const {
    std::lock_guard lock(slotsMutex_);
    return FindPeerSlotLocked(connection);
}

int TNetSender::SetPeerOffline(const common::TcpConnection& connection, bool onlyIfOnline) {
    std::lock_guard lock(slotsMutex_);
    const int index = FindPeerSlotLocked(connection);
    if (index >= 0) {
        auto& slot = slots_[static_cast<size_t>(index)];
        if (!onlyIfOnline || slot.state == ssOnline) {
            slot.state = ssOffline;
            slot.holdUntil = now_ + slot.bufferLength;
        }
    }
    return index;
}

int TNetSender::FindSlotForLocked(const IPv4Address& address) const {
    for (size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].state == ssFree || slots_[i].address == address) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int TNetSender::FindSlotFor(const IPv4Address& address) const {
    std::lock_guard lock(slotsMutex_);
    return FindSlotForLocked(address);
}

uint8_t TNetSender::RefusalFor(const IPv4Address& address) const {
    const int64_t now = now_;
    std::lock_guard lock(slotsMutex_);
    for (const auto& slot : slots_) {
        if (slot.state == ssBanned && slot.address == address) {
            const int64_t tenths = std::clamp<int64_t>((slot.holdUntil - now) / 100, 0, 254);
            return static_cast<uint8_t>(tenths + 1);
        }
    }
    return 0;
}

void TNetSender::Refuse(TClientSlot record, int tenths) {
    std::lock_guard lock(slotsMutex_);
    const int index = FindSlotForLocked(record.address);
    if (index < 0) {
        return;
    }
    record.state = ssBanned;
    record.holdUntil = now_ + static_cast<int64_t>(tenths) * 100;
    StoreSlotLocked(index, record);
}

uint8_t TNetSender::TakeSlot(TClientSlot record) {
    std::lock_guard lock(slotsMutex_);
    const int index = FindSlotForLocked(record.address);
    if (index < 0) {
        return protocol::lrNoSlot;
    }
    record.state = ssOnline;
    record.holdUntil = 0;
    StoreSlotLocked(index, record);
    return protocol::lrAdmitted;
}

void TNetSender::SendResult(common::TcpConnection& connection, uint8_t code) {
    const Bytes message = protocol::EncodeLoginResultMessage(code);
    connection.Socket().WriteAll(message.data(), message.size());  // failures are ignored
}

void TNetSender::LogConnect(const std::string& text) {
    if (connectLog_) {
        connectLog_(text);
    }
}

void TNetSender::OutLog(const std::string& text) {
    if (outLog_) {
        outLog_(text);
    }
}

uint8_t TNetSender::Login(common::TcpConnection& connection, bool& restore) {
    restore = false;
    TClientSlot record;
    record.address = ParseAddress(connection.PeerAddress());
    record.port = connection.PeerPort();
    record.connectionTime = now_;
    auto& socket = connection.Socket();

    if (const uint8_t refusal = RefusalFor(record.address); refusal != 0) {
        // A write failure here changes nothing: the refusal already in force stays.
        Bytes hello;
        protocol::EncodeHello(protocol::TStreamHello{protocol::kMagicWord, protocol::kKindServer,
                                                     protocol::kProtocolVersion, 0, refusal},
                              hello);
        socket.WriteAll(hello.data(), hello.size());
        return protocol::lrHelloRead;
    }

    Bytes announcement;
    {
        std::lock_guard lock(settingsMutex_);
        announcement = protocol::EncodeServerAnnouncement(clock_.NowUtcDays(), streamParams_);
    }
    if (socket.WriteAll(announcement.data(), announcement.size()) != 0) {
        Refuse(record, kRefuseSendInfoTenths);
        return protocol::lrSendInfoFailed;
    }

    socket.SetReadTimeout(handshakeReadTimeoutMs_);
    uint8_t result = ReadClientReply(socket, record, restore);
    if (result >= 1 && result <= 128) {
        SendResult(connection, result);
    }
    if (result == protocol::lrAdmitted) {
        result = TakeSlot(record);
    }
    return result;
}

// Reads the client's hello, password and start record into `record`. Every
// read failure (a time-out included) refuses the address for half a second.
uint8_t TNetSender::ReadClientReply(common::TcpSocket& socket, TClientSlot& record, bool& restore) {
    uint8_t helloBytes[protocol::kStreamHelloSize];
    if (socket.ReadExactly(helloBytes, sizeof(helloBytes)) != 0) {
        Refuse(record, kRefuseReadTenths);
        return protocol::lrHelloRead;
    }
    const auto hello = *protocol::DecodeHello(helloBytes);
    uint8_t result = protocol::lrAdmitted;
    if (!hello.MagicOk()) {
        result = protocol::lrNoMagicWord;
    }
    if (hello.kind != protocol::kKindClient && hello.kind != protocol::kKindRelay) {
        result = protocol::lrNoClientKind;
    }
    if (hello.version != protocol::kProtocolVersion) {
        result = protocol::lrInvalidVersion;
    }

    std::string received;
    if (hello.extra > 0) {
        char text[256];
        if (socket.ReadExactly(text, hello.extra) != 0) {
            Refuse(record, kRefuseReadTenths);
            return protocol::lrPasswordRead;
        }
        received.assign(text, strnlen(text, hello.extra));
    }
    {
        std::lock_guard lock(settingsMutex_);
        if (!password_.empty() && password_ != received) {
            result = protocol::lrInvalidPassword;
        }
    }
    if (result != protocol::lrAdmitted) {
        Refuse(record, kRefuseAnswerTenths);
        return result;
    }

    uint8_t word[2];
    if (socket.ReadExactly(word, sizeof(word)) != 0) {
        Refuse(record, kRefuseReadTenths);
        return protocol::lrBufferLength;
    }
    record.bufferLength = protocol::GetU16(word, 0);
    if (record.bufferLength == 0) {
        Refuse(record, kRefuseAnswerTenths);
        return protocol::lrBufferLength;
    }
    if (socket.ReadExactly(word, sizeof(word)) != 0) {
        Refuse(record, kRefuseReadTenths);
        return protocol::lrResumeNumber;
    }
    record.nextSeq = protocol::GetU16(word, 0);
    restore = record.nextSeq != protocol::kSeqNewest;
    return protocol::lrAdmitted;
}

std::string TNetSender::AddressText(const IPv4Address& address) {
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
           std::to_string(address[2]) + "." + std::to_string(address[3]);
}

std::string TNetSender::AddressPortText(const IPv4Address& address, uint16_t port) {
    return AddressText(address) + ":" + std::to_string(port);
}

IPv4Address TNetSender::ParseAddress(const std::string& dotted) {
    IPv4Address address{};
    size_t start = 0;
    for (size_t part = 0; part < address.size() && start <= dotted.size(); ++part) {
        size_t end = dotted.find('.', start);
        if (end == std::string::npos) {
            end = dotted.size();
        }
        const std::string text = dotted.substr(start, end - start);
        const bool digits =
            !text.empty() && text.size() <= 3 &&
            std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
        const int value = digits ? std::stoi(text) : -1;
        address[part] = value >= 0 && value <= 255 ? static_cast<uint8_t>(value) : 0;
        start = end + 1;
    }
    return address;
}

std::string TNetSender::LoginLogLine(uint8_t result, bool restore, const std::string& addressText) {
    switch (result) {
        case protocol::lrAdmitted:
            return (restore ? "Restore connect " : "Stream open for ") + addressText;
        case protocol::lrSendInfoFailed:
            return "Error send info to " + addressText;
        case protocol::lrNoMagicWord:
            return "No Brivanta on " + addressText;
        case protocol::lrNoClientKind:
            return "No flag client received";
        case protocol::lrInvalidVersion:
            return "Invalid version on " + addressText;
        case protocol::lrInvalidPassword:
            return "Invalid password send from " + addressText;
        case protocol::lrBufferLength:
            return "Error start codec on " + addressText;
        case protocol::lrResumeNumber:
            return "Error read start data from " + addressText;
        case protocol::lrNoSlot:
            return "Error agreement stream on " + addressText;
        case protocol::lrPasswordRead:
            return "Error read password from " + addressText;
        default:
            return {};
    }
}

}  // namespace brivanta::server
