#include "common/path.h"

namespace brimlet {

bool IsPathSeparator(char c) {
    return kPathSeparators.find(c) != std::string_view::npos;
}

bool IsRooted(std::string_view path) {
    if (path.empty()) {
        return false;
    }
#ifdef _WIN32
    if (path.size() > 1 && path[1] == ':') {
        return true;
    }
#endif
    return IsPathSeparator(path.front());
}

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string joined(dir);
    if (joined.empty() || !IsPathSeparator(joined.back())) {
        joined.push_back(kPathSeparator);
    }
    return joined.append(name);
}

std::string Anchored(std::string_view dir, std::string_view path) {
    return IsRooted(path) ? std::string(path) : JoinPath(dir, path);
}

std::string DirectoryOf(std::string_view path) {
    const std::size_t slash = path.find_last_of(kPathSeparators);
    if (slash == std::string_view::npos) {
        return ".";
    }
#ifdef _WIN32
    const bool root = slash == 0 || path[slash - 1] == ':';
#else
    const bool root = slash == 0;
#endif
    return std::string(path.substr(0, root ? slash + 1 : slash));
}

std::string_view FileNameOf(std::string_view path) {
    const std::size_t slash = path.find_last_of(kPathSeparators);
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string DotNameBeside(std::string_view path, std::string_view suffix) {
    const std::string_view name = FileNameOf(path);
    std::string beside(path.substr(0, path.size() - name.size()));
    return beside.append(".").append(name).append(suffix);
}

}  // namespace brimlet
