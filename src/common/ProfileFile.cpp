#include "common/ProfileFile.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "common/Utils.h"

namespace brivanta::common {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    return UpperText(a) == UpperText(b);
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    const std::string_view t = Trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') {
        return std::nullopt;
    }
    return Trim(t.substr(1, t.size() - 2));
}

bool IsComment(std::string_view t) {
    return !t.empty() && (t.front() == ';' || t.front() == '#');
}

// The key and value of a "key=value" line, or nullopt for any other line.
std::optional<std::pair<std::string_view, std::string_view>> KeyValue(std::string_view line) {
    const std::string_view t = Trim(line);
    if (t.empty() || IsComment(t) || t.front() == '[') {
        return std::nullopt;
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos || eq == 0) {
        return std::nullopt;
    }
    return std::pair{Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))};
}

}  // namespace

std::optional<int64_t> ParseInteger(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseDecimal(std::string_view text) {
    std::string normal(Trim(text));
    for (char& c : normal) {
        if (c == ',') {
            c = '.';
        }
    }
    if (!normal.empty() && normal.front() == '+') {
        normal.erase(0, 1);
    }
    double value = 0;
    const char* last = normal.data() + normal.size();
    const auto [end, ec] = std::from_chars(normal.data(), last, value);
    if (normal.empty() || ec != std::errc() || end != last || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string FormatDecimal(double value) {
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string("0");
}

std::optional<std::string> ProfileFile::Load(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        Parse({});
        return std::nullopt;
    }
    if (ec) {
        return "Cannot read " + path + ": " + ec.message();
    }
    if (std::filesystem::is_directory(status)) {
        return "Cannot read " + path + ": it is a folder";
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "Cannot read " + path + ": " + std::strerror(errno);
    }
    std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        return "Cannot read " + path + ": " + std::strerror(errno);
    }
    Parse(content);
    return std::nullopt;
}

std::optional<std::string> ProfileFile::Save(const std::string& path) const {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << Text();
        out.flush();
        if (!out) {
            const std::string reason = std::strerror(errno);
            std::remove(temporary.c_str());
            return "Cannot write " + path + ": " + reason;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::remove(temporary.c_str());
        return "Cannot write " + path + ": " + ec.message();
    }
    return std::nullopt;
}

void ProfileFile::Parse(std::string_view text) {
    lines_.clear();
    byteOrderMark_ = text.starts_with(kBom);
    if (byteOrderMark_) {
        text.remove_prefix(kBom.size());
    }
    crlf_ = text.find("\r\n") != std::string_view::npos;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines_.push_back(std::string(line));
        if (newline == std::string_view::npos) {
            break;
        }
        text.remove_prefix(newline + 1);
    }
}

std::string ProfileFile::Text() const {
    std::string text = byteOrderMark_ ? std::string(kBom) : std::string();
    const char* eol = crlf_ ? "\r\n" : "\n";
    for (const std::string& line : lines_) {
        text += line;
        text += eol;
    }
    return text;
}

std::optional<size_t> ProfileFile::FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        const auto name = SectionName(lines_[i]);
        if (name && SameName(*name, section)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<size_t> ProfileFile::FindKey(size_t header, std::string_view key) const {
    for (size_t i = header + 1; i < lines_.size() && !SectionName(lines_[i]); ++i) {
        const auto kv = KeyValue(lines_[i]);
        if (kv && SameName(kv->first, key)) {
            return i;
        }
    }
    return std::nullopt;
}

size_t ProfileFile::SectionEnd(size_t header) const {
    size_t end = header + 1;
    size_t lastContent = header + 1;
    for (; end < lines_.size() && !SectionName(lines_[end]); ++end) {
        if (!Trim(lines_[end]).empty()) {
            lastContent = end + 1;
        }
    }
    return lastContent;
}

std::optional<std::string> ProfileFile::ReadValue(std::string_view section,
                                                  std::string_view key) const {
    const auto header = FindSection(section);
    if (!header) {
        return std::nullopt;
    }
    const auto line = FindKey(*header, key);
    if (!line) {
        return std::nullopt;
    }
    return std::string(KeyValue(lines_[*line])->second);
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view fallback) const {
    return ReadValue(section, key).value_or(std::string(fallback));
}

int32_t ProfileFile::ReadInteger(std::string_view section, std::string_view key,
                                 int32_t fallback) const {
    const auto value = ReadValue(section, key);
    const auto number = value ? ParseInteger(*value) : std::nullopt;
    if (!number || *number < std::numeric_limits<int32_t>::min() ||
        *number > std::numeric_limits<int32_t>::max()) {
        return fallback;
    }
    return static_cast<int32_t>(*number);
}

bool ProfileFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

double ProfileFile::ReadFloat(std::string_view section, std::string_view key,
                              double fallback) const {
    const auto value = ReadValue(section, key);
    return value ? ParseDecimal(*value).value_or(fallback) : fallback;
}

void ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) {
    std::string line = std::string(key) + "=" + std::string(value);
    const auto header = FindSection(section);
    if (!header) {
        if (!lines_.empty() && !Trim(lines_.back()).empty()) {
            lines_.push_back(std::string());
        }
        lines_.push_back("[" + std::string(section) + "]");
        lines_.push_back(std::move(line));
        return;
    }
    if (const auto existing = FindKey(*header, key)) {
        lines_[*existing] = std::move(line);
        return;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(*header)),
                  std::move(line));
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
    WriteString(section, key, std::to_string(value));
}

void ProfileFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void ProfileFile::WriteFloat(std::string_view section, std::string_view key, double value) {
    WriteString(section, key, FormatDecimal(value));
}

void ProfileFile::EraseSection(std::string_view section) {
    while (const auto header = FindSection(section)) {
        size_t end = *header + 1;
        while (end < lines_.size() && !SectionName(lines_[end])) {
            ++end;
        }
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*header),
                     lines_.begin() + static_cast<std::ptrdiff_t>(end));
    }
}

}  // namespace brivanta::common
