#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "common/system_failure.h"
#include "fsutil/fsutil.h"

namespace brimlet {

bool PathExists(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return true;
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        return false;
    }
    throw ErrnoFailure(errno, path);
}

bool SettingDirectoryExists(const std::string& path) {
    return PathExists(path);
}

bool MakeDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

}  // namespace brimlet
