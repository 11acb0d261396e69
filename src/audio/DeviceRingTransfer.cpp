#include "audio/DeviceRingTransfer.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace brivanta::audio {

bool DeviceRingTransfer::Enter() {
    inside_.fetch_add(1);
    if (detached_.load()) {
        inside_.fetch_sub(1);
        return false;
    }
    return true;
}

void DeviceRingTransfer::Detach() {
    detached_.store(true);
    while (inside_.load() != 0) {
        std::this_thread::yield();  // one callback at most, which never blocks
    }
}

void DeviceRingTransfer::Record(const uint8_t* source, size_t bytes) {
    if (Enter()) {
        RecordAttached(source, bytes);
        Leave();
    }
}

void DeviceRingTransfer::Play(uint8_t* target, size_t bytes) {
    if (Enter()) {
        PlayAttached(target, bytes);
        Leave();
    } else {
        std::memset(target, silence_, bytes);
    }
}

void DeviceRingTransfer::Clear() {
    while (ring_.Front() != nullptr) {
        ring_.Pop();
    }
    position_ = 0;
    starving_ = false;
}

void DeviceRingTransfer::RanDry(std::atomic<uint64_t>& counter) {
    if (hadBuffer_ && !starving_) {
        counter.fetch_add(1, std::memory_order_relaxed);
    }
    starving_ = true;
}

void DeviceRingTransfer::Fed() {
    hadBuffer_ = true;
    starving_ = false;
}

void DeviceRingTransfer::RecordAttached(const uint8_t* source, size_t bytes) {
    while (bytes >= frameBytes_) {
        WaveBuffer* buffer = ring_.Front();
        if (buffer == nullptr) {
            RanDry(overruns_);
            return;
        }
        Fed();
        buffer->TryClaim();
        size_t room = buffer->data.size() - position_;
        room -= room % frameBytes_;
        const size_t chunk = std::min(bytes - bytes % frameBytes_, room);
        uint8_t* target = buffer->data.data() + position_;
        if (chunk > 0 && source != nullptr) {
            std::memcpy(target, source, chunk);
            source += chunk;
        } else if (chunk > 0) {
            std::memset(target, silence_, chunk);
        }
        bytes -= chunk;
        position_ += chunk;
        if (buffer->data.size() - position_ < frameBytes_) {
            buffer->bytesUsed = static_cast<uint32_t>(position_);
            buffer->MarkFinished();
            ring_.Pop();
            position_ = 0;
        }
    }
}

void DeviceRingTransfer::PlayAttached(uint8_t* target, size_t bytes) {
    while (bytes > 0) {
        WaveBuffer* buffer = ring_.Front();
        if (buffer == nullptr) {
            RanDry(underruns_);
            break;
        }
        if (!buffer->TryClaim()) {
            break;  // its owner is rewriting it; it plays from the next callback on
        }
        Fed();
        const size_t length = std::min<size_t>(buffer->bytesUsed, buffer->data.size());
        const size_t chunk = std::min(bytes, length - position_);
        if (chunk > 0) {
            std::memcpy(target, buffer->data.data() + position_, chunk);
        }
        target += chunk;
        bytes -= chunk;
        position_ += chunk;
        if (position_ == length) {
            buffer->MarkFinished();
            ring_.Pop();
            position_ = 0;
        }
    }
    std::memset(target, silence_, bytes);
}

}  // namespace brivanta::audio
