#include "server/ServerLog.h"

#include <filesystem>
#include <fstream>

#include "common/DateTime.h"
#include "common/Utils.h"

namespace brivanta::server {

namespace fs = std::filesystem;

TServerLog::TServerLog(common::IClock& clock, std::string baseFolder)
    : clock_(clock), baseFolder_(std::move(baseFolder)) {
    rows_.push_front(TLogEntry{clock_.NowLocalDays(), "Start program"});
}

void TServerLog::OutLog(const std::string& text) {
    TLogEntry entry{clock_.NowLocalDays(), common::CutUtf8(text, kMaxText)};
    std::lock_guard lock(queueMutex_);
    queue_.push_back(std::move(entry));
}

void TServerLog::AddHello(const std::string& line) {
    std::lock_guard lock(helloMutex_);
    hello_.push_back(line);
}

std::vector<std::string> TServerLog::HelloLines() const {
    std::lock_guard lock(helloMutex_);
    return hello_;
}

std::optional<TLogEntry> TServerLog::ShowLog() {
    TLogEntry entry;
    {
        std::lock_guard lock(queueMutex_);
        if (queue_.empty()) {
            return std::nullopt;
        }
        entry = std::move(queue_.front());
        queue_.pop_front();
    }
    rows_.push_front(entry);
    if (rows_.size() > kMaxRows) {
        rows_.pop_back();
    }
    pending_.push_back(entry);
    return entry;
}

std::string TServerLog::LogFolder() const {
    return (fs::path(baseFolder_) / "Log").string();
}

std::string TServerLog::FormatLine(const TLogEntry& entry) {
    return common::FormatLogTime(entry.Time) + " " + entry.Text;
}

bool TServerLog::OutLogToFile() {
    if (pending_.empty()) {
        return true;
    }
    std::vector<TLogEntry> lines;
    lines.swap(pending_);
    std::error_code ec;
    fs::create_directories(LogFolder(), ec);
    if (ec) {
        return false;
    }
    // Lines go to the file of their own day, so a line logged just before
    // midnight stays with its day even when it is written after it.
    std::ofstream out;
    std::string openDay;
    for (const TLogEntry& line : lines) {
        const std::string day = common::FormatFileDate(line.Time);
        if (day != openDay) {
            out.close();
            out.open(fs::path(LogFolder()) / ("s" + day + ".log"),
                     std::ios::binary | std::ios::app);
            openDay = day;
        }
        out << FormatLine(line) << "\r\n";
        if (!out) {
            return false;
        }
    }
    out.flush();
    return static_cast<bool>(out);
}

void TServerLog::Flush(const std::function<void(const TLogEntry&)>& shown) {
    while (const auto entry = ShowLog()) {
        if (shown) {
            shown(*entry);
        }
    }
    OutLogToFile();
}

}  // namespace brivanta::server
