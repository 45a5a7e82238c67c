#include <windows.h>

#include <thread>

#include "common/failure.h"
#include "common/path.h"
#include "process/files_win32.h"
#include "process/publication.h"

namespace brimlet {

namespace {

constexpr auto kLockPoll = std::chrono::milliseconds(50);

}  // namespace

DocumentLock::Result DocumentLock::Acquire(const std::string& documentPath,
                                           std::chrono::milliseconds wait,
                                           const std::function<bool()>& stopped) {
    const std::string path = PathFor(documentPath);
    const DWORD dir = GetFileAttributesA(DirectoryOf(documentPath).c_str());
    // No directory that this run can reach: the document's own write reports why.
    if (dir == INVALID_FILE_ATTRIBUTES || (dir & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return Result::NothingToGuard;
    }
    LockHandle file = OpenLockFile(path);
    if (!file) {
        const DWORD code = GetLastError();
        // No lock file, and none may be made: a directory this account cannot write holds no
        // document it could change. A lock file it cannot open is another account's.
        if (code == ERROR_ACCESS_DENIED &&
            GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return Result::NothingToGuard;
        }
        throw SystemFailure(code, "lock " + path);
    }
    if (const std::string why = ForeignLockFile(NativeHandle(file)); !why.empty()) {
        throw Failure(-1, "lock " + path + ": not a lock file of this account (" + why + ")");
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const DWORD code = TryLockFile(NativeHandle(file));
        if (code == ERROR_SUCCESS) {
            break;
        }
        if (code != ERROR_LOCK_VIOLATION) {
            throw SystemFailure(code, "lock " + path);
        }
        if (stopped && stopped()) {
            return Result::Stopped;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return Result::TimedOut;
        }
        std::this_thread::sleep_for(kLockPoll);
    }
    m_lock = std::move(file);
    return Result::Acquired;
}

}  // namespace brimlet
