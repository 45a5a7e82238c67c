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

namespace {

std::string_view TrimTrailing(std::string_view path) {
    while (!path.empty() && IsPathSeparator(path.back())) {
        path.remove_suffix(1);
    }
    return path;
}

#ifdef _WIN32
bool IsUnc(std::string_view path) {
    return path.size() > 1 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
}

bool HasDrive(std::string_view path) {
    return path.size() > 1 && path[1] == ':';
}

// "\\srv\share" of a UNC path: its first four elements.
std::string_view ShareOf(std::string_view path) {
    std::size_t end = 2;
    for (int element = 0; element < 2 && end != std::string_view::npos; ++element) {
        end = path.find_first_of(kPathSeparators, end + (element == 0 ? 0 : 1));
    }
    return end == std::string_view::npos ? path : path.substr(0, end);
}
#endif

}  // namespace

std::string AnchoredDirectory(std::string_view dir, std::string_view path) {
#ifdef _WIN32
    if (HasDrive(path) && (path.size() == 2 || !IsPathSeparator(path[2]))) {
        return std::string(path.substr(0, 2)) + kPathSeparator + std::string(path.substr(2));
    }
    if (!path.empty() && IsPathSeparator(path[0]) && !IsUnc(path)) {
        const std::string_view root = HasDrive(dir) ? dir.substr(0, 2)
                                      : IsUnc(dir)  ? ShareOf(dir)
                                                    : std::string_view();
        return std::string(root) + std::string(path);
    }
#endif
    return Anchored(dir, path);
}

bool IsRootPath(std::string_view path) {
    const std::string_view trimmed = TrimTrailing(path);
#ifdef _WIN32
    if (IsUnc(path)) {
        return ShareOf(trimmed) == trimmed &&
               trimmed.find_first_of(kPathSeparators, 2) != std::string_view::npos;
    }
    if (HasDrive(trimmed) && trimmed.size() == 2) {
        return true;
    }
#endif
    return trimmed.empty() && !path.empty();
}

std::string WithoutTrailingSeparators(std::string_view path) {
    const std::string_view trimmed = TrimTrailing(path);
    if (IsRootPath(path)) {
        return trimmed.empty() ? std::string(1, kPathSeparator)
                               : std::string(trimmed) + kPathSeparator;
    }
    return std::string(trimmed);
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
