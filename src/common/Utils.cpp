#include "common/Utils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace brivanta::common {

std::string XorText(std::string_view data, std::string_view key) {
    static constexpr char kEmptyKey[] = {static_cast<char>(0xAA)};
    if (key.empty()) {
        key = std::string_view(kEmptyKey, 1);
    }
    std::string result(data);
    for (size_t i = 0; i < result.size(); ++i) {
        result[i] = static_cast<char>(result[i] ^ key[i % key.size()]);
    }
    return result;
}

std::string TextToHex(std::string_view data) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(data.size() * 2);
    for (const char c : data) {
        const auto byte = static_cast<unsigned char>(c);
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 0x0F]);
    }
    return hex;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return 0;
}

std::string HexToText(std::string_view hex) {
    std::string text;
    text.reserve(hex.size() / 2);
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        text.push_back(static_cast<char>(HexDigitValue(hex[i]) * 16 + HexDigitValue(hex[i + 1])));
    }
    return text;
}

std::string ScramblePassword(std::string_view password) {
    return TextToHex(XorText(password, kScrambleKey));
}

std::string UnscramblePassword(std::string_view stored) {
    return XorText(HexToText(stored), kScrambleKey);
}

namespace {

// The UTF-8 encoding of a two-byte code point U+0400..U+047F.
void PutCyrillic(std::string& out, size_t at, unsigned codePoint) {
    out[at] = static_cast<char>(0xC0 | (codePoint >> 6));
    out[at + 1] = static_cast<char>(0x80 | (codePoint & 0x3F));
}

}  // namespace

std::string UpperText(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        const auto lead = static_cast<unsigned char>(out[i]);
        if (lead >= 'a' && lead <= 'z') {
            out[i] = static_cast<char>(lead - 'a' + 'A');
            continue;
        }
        if ((lead != 0xD0 && lead != 0xD1) || i + 1 >= out.size()) {
            continue;
        }
        const auto trail = static_cast<unsigned char>(out[i + 1]);
        if ((trail & 0xC0) != 0x80) {
            continue;
        }
        const unsigned codePoint = ((lead & 0x1Fu) << 6) | (trail & 0x3Fu);
        if (codePoint >= 0x430 && codePoint <= 0x44F) {  // а..я
            PutCyrillic(out, i, codePoint - 0x20);
        } else if (codePoint == 0x451) {  // ё
            PutCyrillic(out, i, 0x401);
        }
        ++i;
    }
    return out;
}

std::string CutUtf8(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return std::string(text);
    }
    size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return std::string(text.substr(0, cut));
}

std::string AddBackslash(std::string_view path) {
    std::string result(path);
    if (!result.empty() && result.back() != kPathSeparator) {
        result.push_back(kPathSeparator);
    }
    return result;
}

std::string FormatDuration(uint32_t layout, double days) {
    constexpr int64_t kMsPerDay = 86400000;
    // Whole days are limited to 65535; longer durations show the last
    // millisecond of that day.
    days = std::clamp(days, 0.0, 65535.0 + (kMsPerDay - 1) / double(kMsPerDay));
    int64_t wholeDays = static_cast<int64_t>(days);
    int64_t msOfDay = std::llround((days - static_cast<double>(wholeDays)) * kMsPerDay);
    if (msOfDay >= kMsPerDay) {  // rounded up to the next midnight
        msOfDay -= kMsPerDay;
        ++wholeDays;
    }
    const int64_t h = msOfDay / 3600000;
    const int64_t m = msOfDay / 60000 % 60;
    const int64_t s = msOfDay / 1000 % 60;
    const int64_t ms = msOfDay % 1000;
    const int64_t tenths = ms / 100;
    const int64_t totalHours = wholeDays * 24 + h;
    const int64_t totalMinutes = totalHours * 60 + m;
    using LL = long long;

    char text[64];
    switch (layout) {
        case 0:
            if (wholeDays == 0) {
                std::snprintf(text, sizeof text, "%2.2lld:%2.2lld:%2.2lld", LL(h), LL(m), LL(s));
            } else {
                std::snprintf(text, sizeof text, "%lld %2.2lld:%2.2lld:%2.2lld", LL(wholeDays),
                              LL(h), LL(m), LL(s));
            }
            break;
        case 1:
            std::snprintf(text, sizeof text, "%2.2lld:%2.2lld:%2.2lld", LL(totalHours), LL(m),
                          LL(s));
            break;
        case 2:
            std::snprintf(text, sizeof text, "%2.2lld:%2.2lld", LL(totalHours), LL(m));
            break;
        case 3:
            std::snprintf(text, sizeof text, "%2.2lld:%2.2lld", LL(totalMinutes), LL(s));
            break;
        case 4:
            std::snprintf(text, sizeof text, "%2.2lld:%2.2lld:%2.2lld.%1.1lld", LL(totalHours),
                          LL(m), LL(s), LL(tenths));
            break;
        case 5:
            std::snprintf(text, sizeof text, "%lld %2.2lld:%2.2lld:%2.2lld", LL(wholeDays), LL(h),
                          LL(m), LL(s));
            break;
        case 6:
            std::snprintf(text, sizeof text, "%2.2lld:%2.2lld.%1.1lld", LL(totalMinutes), LL(s),
                          LL(tenths));
            break;
        case 7:
            std::snprintf(text, sizeof text, "%5lld", LL((h * 60 + m) * 60 + s));
            break;
        case 11:
            std::snprintf(text, sizeof text, "%2.2lld:%2.2lld:%2.2lld.%3.3lld", LL(totalHours),
                          LL(m), LL(s), LL(ms));
            break;
        default:
            return "!FORMAT!";
    }
    return text;
}

std::vector<int> FitGridColumns(int clientWidth, std::span<const int> columnWidths,
                                std::span<const int16_t> percents) {
    std::vector<int> widths(columnWidths.begin(), columnWidths.end());
    const size_t fitted = std::min(widths.size(), percents.size());
    int remaining = clientWidth;
    for (size_t i = 0; i < fitted; ++i) {
        if (percents[i] == 0) {
            remaining -= widths[i] + 1;
        }
    }
    for (size_t i = 0; i < fitted; ++i) {
        if (percents[i] != 0) {
            widths[i] = percents[i] * remaining / 100 - 1;
        }
    }
    return widths;
}

}  // namespace brivanta::common
