#include <string>
#include <string_view>

#include "common/text.h"
#include "settings/settings.h"

namespace brimlet {

std::optional<std::vector<std::string>> IniSectionKeys(std::string_view text,
                                                       std::string_view section) {
    constexpr std::string_view kBlanks = " \t";
    constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        text.remove_prefix(kUtf8Bom.size());
    }
    std::optional<std::vector<std::string>> keys;
    bool inSection = false;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = Trim(line, kBlanks);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            if (inSection) {
                break;
            }
            std::string_view name = line.substr(1);
            name = name.substr(0, name.find(']'));
            if (!keys && EqualsIgnoreCaseAscii(Trim(name, kBlanks), section)) {
                keys.emplace();
                inSection = true;
            }
            continue;
        }
        const auto eq = line.find('=');
        if (inSection && eq != std::string_view::npos) {
            keys->emplace_back(Trim(line.substr(0, eq), kBlanks));
        }
    }
    return keys;
}

}  // namespace brimlet
