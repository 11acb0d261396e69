#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "client/ClientLink.h"
#include "client/ClientLog.h"
#include "client/MainClient.h"
#include "common/Clock.h"

// Helpers shared by the client engine tests.
namespace brivanta::client::testkit {

// A link that records the notifications it was asked to send.
class RecordingLink final : public IClientLink {
  public:
    void Broadcast(int32_t code, int32_t value, bool wait) override {
        std::lock_guard lock(mutex_);
        EXPECT_EQ(value, 0);
        EXPECT_FALSE(wait);
        codes_.push_back(code);
    }
    struct Data {
        int32_t code;
        int32_t value;
        std::vector<uint8_t> bytes;
    };
    void BroadcastData(int32_t code, int32_t value, const uint8_t* data, size_t size) override {
        std::lock_guard lock(mutex_);
        data_.push_back(Data{code, value, std::vector<uint8_t>(data, data + size)});
    }
    bool HasPeers() const override { return false; }

    std::vector<int32_t> Codes() const {
        std::lock_guard lock(mutex_);
        return codes_;
    }

    std::vector<Data> Sent() const {
        std::lock_guard lock(mutex_);
        return data_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<int32_t> codes_;
    std::vector<Data> data_;
};

// The client's log lines with the clock's tick when each was written.
class TimedLines {
  public:
    explicit TimedLines(common::IClock& clock) : clock_(clock) {}

    TClientLog::Sink Sink() {
        return [this](const TLogEntry& entry) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(clock_.NowMs(), entry.text);
        };
    }

    // The ticks at which `text` was logged.
    std::vector<int64_t> TimesOf(const std::string& text) const {
        std::lock_guard lock(mutex_);
        std::vector<int64_t> times;
        for (const auto& [time, line] : lines_) {
            if (line == text) {
                times.push_back(time);
            }
        }
        return times;
    }
    size_t Count(const std::string& text) const { return TimesOf(text).size(); }
    std::vector<std::string> Texts() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> texts;
        for (const auto& entry : lines_) {
            texts.push_back(entry.second);
        }
        return texts;
    }

  private:
    common::IClock& clock_;
    mutable std::mutex mutex_;
    std::vector<std::pair<int64_t, std::string>> lines_;
};

inline ClientEnvironment MakeEnvironment(common::IClock& clock, audio::IWaveBackend& devices,
                                         IClientLink& link, TClientLog& log) {
    return ClientEnvironment{clock, devices, link, log, audio::msacm::CreateCodecLayer(), "", {}};
}

// The settings of a fresh install, as read from a missing file.
inline TSetting DefaultSettings() {
    TSetting settings;
    ReadSettings("/nonexistent/BrivantaClient.ini", settings);
    return settings;
}

// The gaps between consecutive ticks.
inline std::vector<int64_t> Gaps(const std::vector<int64_t>& times) {
    std::vector<int64_t> gaps;
    for (size_t i = 1; i < times.size(); ++i) {
        gaps.push_back(times[i] - times[i - 1]);
    }
    return gaps;
}

}  // namespace brivanta::client::testkit
