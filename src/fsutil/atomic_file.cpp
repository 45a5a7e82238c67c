#include "fsutil/atomic_file.h"

#include "fsutil/fsutil.h"

namespace brimlet {

std::string TempDirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of(kPathDelimiters);
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string TempNamePrefix(const std::string& path) {
    const auto slash = path.find_last_of(kPathDelimiters);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string dir = TempDirectoryOf(path);
    if (dir.size() == 1 && kPathDelimiters.find(dir[0]) != std::string_view::npos) {
        dir.clear();  // the root: its separator comes below
    }
    return dir + kPathSeparator + "." + name + ".";
}

std::string AtomicFile::TempName() const {
    // Unnamed until Commit: an error text still has to say which file failed.
    return m_tempPath.empty() ? "temporary file for " + m_path : m_tempPath;
}

}  // namespace brimlet
