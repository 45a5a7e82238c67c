#pragma once
// The Windows lock files of the run (the instance guard, the document's lock): created so that
// only the running account and Administrators may open them, and locked without waiting.
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/failure.h"
#include "common/handle_win32.h"
#include "common/system_failure.h"
#include "process/lock_handle.h"

namespace brimlet {

// Opens the lock file at `path` for reading and writing, creating it with an access list that
// names only this account and Administrators and inherits nothing; a reparse point there is
// opened as itself. No handle, with GetLastError() set, when it cannot be opened.
LockHandle OpenLockFile(const std::string& path);

// Opens (or creates) the lock file at `path` with the access list its directory hands down:
// whoever may write there may take the lock. A reparse point there is opened as itself. No
// handle, with GetLastError() set, when it cannot be opened.
LockHandle OpenInheritingLockFile(const std::string& path);

// Whether the open file is a regular file (no directory, reparse point or device).
bool IsRegularFile(HANDLE file);

inline HANDLE NativeHandle(const LockHandle& lock) {
    return lock.native();
}

// Why the open lock file may not be trusted, or "" when it may: a regular file with one name,
// owned by this account (or Administrators), whose access list lets nobody else (but
// LocalSystem) open it.
std::string ForeignLockFile(HANDLE file);

// Takes the lock without waiting: ERROR_SUCCESS, ERROR_LOCK_VIOLATION when another holds it,
// or the failure's code.
DWORD TryLockFile(HANDLE file);

}  // namespace brimlet
