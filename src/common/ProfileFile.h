#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivanta::common {

// A profile (INI) file held in memory: "[section]" headers, each followed by
// "key=value" lines. Sections and keys match ignoring case (Latin and
// Cyrillic); values are UTF-8 text with the surrounding blanks trimmed.
// Writing a key changes only its own line (or adds one at the end of its
// section), so comments, blank lines and unknown keys survive a save.
class ProfileFile {
  public:
    // Reads the file; a missing file gives an empty profile and no error.
    // Returns an error text when the file exists but cannot be read.
    std::optional<std::string> Load(const std::string& path);
    // Writes the profile to a temporary file beside the target and renames it
    // over the target, so a failed save never leaves half a file. Returns an
    // error text on failure.
    std::optional<std::string> Save(const std::string& path) const;

    void Parse(std::string_view text);
    std::string Text() const;

    // The stored text of a key; nullopt when the section or key is missing.
    std::optional<std::string> ReadValue(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    // A value that does not read as a decimal integer of 32 bits yields the fallback.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const;
    bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
    // A decimal number with "." or "," as separator; unreadable yields the fallback.
    double ReadFloat(std::string_view section, std::string_view key, double fallback) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int64_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    // The shortest decimal text that reads back as the same number.
    void WriteFloat(std::string_view section, std::string_view key, double value);
    // Removes every section of that name with all its lines.
    void EraseSection(std::string_view section);

  private:
    // Index of the header line of the first section of that name, or nullopt.
    std::optional<size_t> FindSection(std::string_view section) const;
    // Index of the key's line inside the section starting at header, or nullopt.
    std::optional<size_t> FindKey(size_t header, std::string_view key) const;
    // Index one past the section's last line, leaving its trailing blank lines out.
    size_t SectionEnd(size_t header) const;

    std::vector<std::string> lines_;
    bool byteOrderMark_ = false;
    bool crlf_ = false;
};

// A decimal integer of the whole (trimmed) text, with an optional sign.
std::optional<int64_t> ParseInteger(std::string_view text);
// A decimal number of the whole (trimmed) text, "." or "," as separator.
std::optional<double> ParseDecimal(std::string_view text);
std::string FormatDecimal(double value);

}  // namespace brivanta::common
