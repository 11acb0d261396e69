#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brivanta::common {

// The key the settings files scramble passwords with.
inline constexpr std::string_view kScrambleKey = "Brivanta";

// Data exclusive-or the key repeated along it; an empty key means the single
// byte 0xAA. Applying it twice with the same key restores the data.
std::string XorText(std::string_view data, std::string_view key);

// Each byte as two upper-case hexadecimal digits.
std::string TextToHex(std::string_view data);
// Pairs of hexadecimal digits back to bytes; an odd last digit is ignored and
// a character that is not a digit reads as 0.
std::string HexToText(std::string_view hex);
int HexDigitValue(char c);

// How a password is kept in a settings file, and read back.
std::string ScramblePassword(std::string_view password);
std::string UnscramblePassword(std::string_view stored);

// Upper-cases the Latin and Cyrillic letters of a UTF-8 text (including ё);
// every other byte is kept, so the result has the same length.
std::string UpperText(std::string_view text);

// The longest start of a UTF-8 text of at most maxBytes bytes that does not
// split a character.
std::string CutUtf8(std::string_view text, size_t maxBytes);

// A folder path with the separator appended unless it ends with one already;
// an empty path stays empty.
std::string AddBackslash(std::string_view path);
inline constexpr char kPathSeparator = '/';

// A duration given as a day count, formatted by one of the layouts 0..7 and
// 11 (hours, minutes, seconds, tenths and milliseconds in various forms);
// any other layout gives "!FORMAT!".
std::string FormatDuration(uint32_t layout, double days);

// Widths for a grid's columns from percentages of its client width: a 0 keeps
// that column's width (less its width and a grid line from what the others
// share); others get percent x remaining width / 100, less one. Columns past
// the percentages keep their width.
std::vector<int> FitGridColumns(int clientWidth, std::span<const int> columnWidths,
                                std::span<const int16_t> percents);

}  // namespace brivanta::common
