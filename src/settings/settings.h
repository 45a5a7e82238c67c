#pragma once
// The settings file: the private-profile reader.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"

namespace brimlet {

// Longest value the reader hands back, in bytes (a buffer of 8000 with its terminating NUL).
inline constexpr std::size_t kIniValueMaxBytes = 7999;
// Only this much of a settings file is read; a line cut by the bound is ignored.
inline constexpr std::size_t kIniFileMaxBytes = std::size_t{4} * 1024 * 1024;

// The value of `key` in `section` of the settings text `text`, or the empty text. Lines end in
// LF or CR LF; a leading UTF-8 BOM is skipped; "[name]" opens a section; blanks (space, TAB)
// around section names, keys and values are removed; names match ignoring ASCII case; a line
// whose first non-blank character is ';' or '#' is a comment; one pair of matching quotes
// (" or ') around the whole value is removed; only the first matching section is searched and
// the first occurrence of the key in it wins; lines without '=' are ignored; the value ends
// before a NUL byte and is cut to kIniValueMaxBytes.
std::string IniValueFromText(std::string_view text, std::string_view section, std::string_view key);

// The keys of the first section named `section` (ASCII case ignored) in the settings text, as
// written, in order; empty when the section is missing. Same line rules as IniValueFromText.
std::optional<std::vector<std::string>> IniSectionKeys(std::string_view text,
                                                       std::string_view section);

// Reads the regular file `iniFile` (at most kIniFileMaxBytes) and returns
// IniValueFromText of it. A missing, unreadable or non-regular file reads as the empty text.
// Never throws and writes no log entry. On Windows the platform's private-profile reader reads
// the file instead, with its own rules (the file's code page, no BOM or '#' comments).
std::string GetIniValue(std::string_view section, std::string_view key,
                        const std::string& iniFile) noexcept;

// A time-out setting: the text as the file gives it, converted to whole seconds once, when it
// is read. 0 means no limit.
class SecondsSetting {
  public:
    SecondsSetting() : SecondsSetting(std::string()) {}
    explicit SecondsSetting(std::string text);

    const std::string& text() const { return m_text; }
    // The whole seconds; throws the conversion's Failure (type mismatch) when the text is not a
    // whole number of seconds: an optional sign and decimal digits, blanks around allowed.
    std::int32_t Seconds() const;
    // The whole seconds, or `fallback` when the text is not a number.
    std::int32_t SecondsOr(std::int32_t fallback) const noexcept;

  private:
    std::string m_text;
    std::optional<std::int32_t> m_seconds;
    std::optional<Failure> m_error;
};

}  // namespace brimlet
