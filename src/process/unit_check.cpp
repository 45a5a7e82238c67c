#include "process/unit_check.h"

#include <algorithm>

namespace brimlet {

std::optional<std::vector<std::string>> UnitCheckCommand(std::string_view showText,
                                                         const std::string& unit,
                                                         const std::string& link) {
    std::vector<std::string> command = {"systemd-run",
                                        "--wait",
                                        "--pipe",
                                        "--quiet",
                                        "--collect",
                                        "--service-type=exec",
                                        "--description=brimlet --check in " + unit};
    bool loaded = false;
    bool user = false;
    const std::string_view wanted = kUnitCheckProperties;
    while (!showText.empty()) {
        const std::size_t end = std::min(showText.find('\n'), showText.size());
        const std::string_view line = showText.substr(0, end);
        showText.remove_prefix(std::min(end + 1, showText.size()));
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || eq == 0 || eq + 1 == line.size()) {
            continue;
        }
        const std::string_view key = line.substr(0, eq);
        const std::string_view value = line.substr(eq + 1);
        // Only what was asked for, whole names of the list.
        const std::size_t at = wanted.find(key);
        if (at == std::string_view::npos || (at > 0 && wanted[at - 1] != ',') ||
            (at + key.size() < wanted.size() && wanted[at + key.size()] != ',')) {
            continue;
        }
        if (key == "LoadState") {
            loaded = value == "loaded";
            continue;
        }
        user = user || key == "User";
        command.push_back("--property=" + std::string(line));
    }
    if (!loaded || !user) {
        return std::nullopt;
    }
    command.emplace_back("--");
    command.push_back(link);
    command.emplace_back("--check");
    return command;
}

}  // namespace brimlet
