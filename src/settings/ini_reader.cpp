#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/text.h"
#include "settings/settings.h"

namespace brimlet {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view TrimBlanks(std::string_view s) {
    return Trim(s, kBlanks);
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

using IniLine = std::pair<std::string_view, std::string_view>;  // key, value; both trimmed

// The "key=value" lines of the first section named `section` (ASCII case ignored), in order;
// nullopt when there is no such section. Only the first section of that name counts, as with
// the platform's profile reader.
std::optional<std::vector<IniLine>> SectionLines(std::string_view text, std::string_view section) {
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        text.remove_prefix(kUtf8Bom.size());
    }
    std::optional<std::vector<IniLine>> lines;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = TrimBlanks(line);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            if (lines) {
                break;
            }
            std::string_view name = line.substr(1);
            name = name.substr(0, name.find(']'));
            if (EqualsIgnoreCaseAscii(TrimBlanks(name), section)) {
                lines.emplace();
            }
            continue;
        }
        const auto eq = line.find('=');
        if (lines && eq != std::string_view::npos) {
            lines->emplace_back(TrimBlanks(line.substr(0, eq)), TrimBlanks(line.substr(eq + 1)));
        }
    }
    return lines;
}

}  // namespace

std::string IniValueFromText(std::string_view text, std::string_view section,
                             std::string_view key) {
    const auto lines = SectionLines(text, section);
    for (const auto& [name, raw] : lines.value_or(std::vector<IniLine>{})) {
        if (EqualsIgnoreCaseAscii(name, key)) {
            std::string_view value = Unquote(raw);
            // The platform hands the value back through a C buffer: it ends at the first NUL.
            value = value.substr(0, value.find('\0'));
            return std::string(value.substr(0, kIniValueMaxBytes));
        }
    }
    return {};
}

std::optional<std::vector<std::string>> IniSectionKeys(std::string_view text,
                                                       std::string_view section) {
    const auto lines = SectionLines(text, section);
    if (!lines) {
        return std::nullopt;
    }
    std::vector<std::string> keys;
    for (const auto& line : *lines) {
        keys.emplace_back(line.first);
    }
    return keys;
}

}  // namespace brimlet
