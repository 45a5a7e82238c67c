#include <string>
#include <string_view>

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

}  // namespace

std::string IniValueFromText(std::string_view text, std::string_view section,
                             std::string_view key) {
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        text.remove_prefix(kUtf8Bom.size());
    }
    // Only the first section of that name counts, as with the platform's profile reader.
    bool seenSection = false;
    bool inSection = false;
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
            if (inSection) {
                return {};
            }
            std::string_view name = line.substr(1);
            name = name.substr(0, name.find(']'));
            if (!seenSection && EqualsIgnoreCaseAscii(TrimBlanks(name), section)) {
                seenSection = true;
                inSection = true;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        if (!EqualsIgnoreCaseAscii(TrimBlanks(line.substr(0, eq)), key)) {
            continue;
        }
        std::string_view value = Unquote(TrimBlanks(line.substr(eq + 1)));
        // The platform hands the value back through a C buffer: it ends at the first NUL.
        value = value.substr(0, value.find('\0'));
        return std::string(value.substr(0, kIniValueMaxBytes));
    }
    return {};
}

}  // namespace brimlet
