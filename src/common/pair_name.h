#pragma once
// The name a pair's link carries, prefix_AGENT_OS: what a run takes from the name it was
// invoked by, and what --check and the command line judge it by.
#include <optional>
#include <string>
#include <string_view>

namespace brimlet {

struct PairName {
    std::string prefix;  // free: it enters no path of the document
    std::string agent;
    std::string os;
};

// The link's name in a file name: on Windows the name without its extension
// ("pub_KA_WIN64.exe" is the link pub_KA_WIN64), elsewhere the whole file name (the dot in
// "pub_KA_WIN.64" belongs to the OS part).
std::string LinkNameOf(std::string_view fileName);

// `name` split at every "_": exactly three parts, the agent and OS parts neither empty, "." nor
// ".." (each names a directory or a piece of the document's path); the prefix may be anything,
// empty included. nullopt for every other name.
std::optional<PairName> ParsePairName(std::string_view name);

// The program's own name, started without a link: "brimlet"; on Windows, whatever the case,
// also its console companion "brimlet-cli". Every other name, one part included, is a pair's.
bool IsProgramName(std::string_view name);

}  // namespace brimlet
