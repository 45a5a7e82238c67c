#include <windows.h>

#include "common/failure.h"
#include "common/path.h"
#include "process/files_win32.h"
#include "process/publication.h"

namespace brimlet {

std::optional<LockHandle> DocumentLock::Open(const std::string& documentPath,
                                             const std::string& path) {
    const DWORD dir = GetFileAttributesA(DirectoryOf(documentPath).c_str());
    // No directory that this run can reach: the document's own write reports why.
    if (dir == INVALID_FILE_ATTRIBUTES || (dir & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return std::nullopt;
    }
    LockHandle file = OpenLockFile(path);
    if (!file) {
        const DWORD code = GetLastError();
        // No lock file, and none may be made: a directory this account cannot write holds no
        // document it could change. A lock file it cannot open is another account's.
        if (code == ERROR_ACCESS_DENIED &&
            GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return std::nullopt;
        }
        throw SystemFailure(code, "lock " + path);
    }
    if (const std::string why = ForeignLockFile(NativeHandle(file)); !why.empty()) {
        throw Failure(-1, "lock " + path + ": not a lock file of this account (" + why + ")");
    }
    return file;
}

bool DocumentLock::TryOnce(const LockHandle& file, const std::string& path) {
    const DWORD code = TryLockFile(NativeHandle(file));
    if (code != ERROR_SUCCESS && code != ERROR_LOCK_VIOLATION) {
        throw SystemFailure(code, "lock " + path);
    }
    return code == ERROR_SUCCESS;
}

}  // namespace brimlet
