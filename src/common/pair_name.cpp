#include "common/pair_name.h"

#include <vector>

#include "common/text.h"

namespace brimlet {

std::string LinkNameOf(std::string_view fileName) {
#ifdef _WIN32
    const std::size_t dot = fileName.rfind('.');
    if (dot != std::string_view::npos && dot > 0) {
        fileName = fileName.substr(0, dot);
    }
#endif
    return std::string(fileName);
}

std::optional<PairName> ParsePairName(std::string_view name) {
    std::vector<std::string> parts = Split(name, '_');
    const auto unusable = [](const std::string& p) { return p.empty() || p == "." || p == ".."; };
    if (parts.size() != 3 || unusable(parts[1]) || unusable(parts[2])) {
        return std::nullopt;
    }
    return PairName{std::move(parts[0]), std::move(parts[1]), std::move(parts[2])};
}

bool IsProgramName(std::string_view name) {
#ifdef _WIN32
    return EqualsIgnoreCaseAscii(name, "brimlet") || EqualsIgnoreCaseAscii(name, "brimlet-cli");
#else
    return name == "brimlet";
#endif
}

}  // namespace brimlet
