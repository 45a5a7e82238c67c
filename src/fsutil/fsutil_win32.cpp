#include <windows.h>

#include <string>
#include <string_view>

#include "common/failure.h"
#include "common/handle_win32.h"
#include "common/system_failure.h"
#include "common/text.h"
#include "fsutil/fsutil.h"

namespace brimlet {

namespace {

bool Counts(const WIN32_FIND_DATAA& entry) {
    return (entry.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0 &&
           !TrimSpaces(entry.cFileName).empty();
}

// Wine answers ERROR_INVALID_NAME where a plain file stands in the path's middle ("f\g" with f
// a file), Windows ERROR_PATH_NOT_FOUND: both mean nothing is there.
bool ParentIsAFile(const std::string& path) {
    const std::size_t cut = path.find_last_of('\\');
    if (cut == std::string::npos || cut == 0) {
        return false;
    }
    const DWORD attributes = GetFileAttributesA(path.substr(0, cut).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

// The directory search of the presence test: the first entry matching `path` among plain files
// and directories, hidden and system entries left out.
bool PathExists(const std::string& path) {
    WIN32_FIND_DATAA entry{};
    const FindHandle find(FindFirstFileA(path.c_str(), &entry));
    if (find.get() == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
            code == ERROR_NO_MORE_FILES || code == ERROR_DIRECTORY ||
            (code == ERROR_INVALID_NAME && ParentIsAFile(path))) {
            return false;
        }
        throw SystemFailure(code, path);
    }
    do {
        if (Counts(entry)) {
            return true;
        }
    } while (FindNextFileA(find.get(), &entry));
    return false;
}

bool SettingDirectoryExists(const std::string& path) {
    const std::string bare = WithoutTrailingSeparators(path);
    if (IsRootPath(path)) {
        const DWORD attributes = GetFileAttributesA(bare.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    return PathExists(bare);
}

bool MakeDirectory(const std::string& path) {
    // No security descriptor, not inheritable: the directory gets the default security.
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    return CreateDirectoryA(path.c_str(), &attributes) != 0;
}

}  // namespace brimlet
