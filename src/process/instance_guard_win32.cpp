#include <windows.h>

#include "common/pair_name.h"
#include "common/path.h"
#include "process/files_win32.h"
#include "process/instance_guard.h"

namespace brimlet {

std::string InstanceLockPath(const std::string& executablePath) {
    const std::string name = LinkNameOf(FileNameOf(executablePath));
    return JoinPath(JoinPath(DirectoryOf(executablePath), "Log"), "." + name + ".lock");
}

InstanceGuard::State InstanceGuard::Lock(const std::string& path, LockHandle& lock,
                                         std::string& why) {
    const auto refuse = [&why](std::string text) {
        why = std::move(text);
        return State::Refused;
    };
    // The first run of a pair comes here before the log directory is made.
    const std::string dir = DirectoryOf(path);
    if (GetFileAttributesA(dir.c_str()) == INVALID_FILE_ATTRIBUTES &&
        !CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return refuse(SystemErrorText(GetLastError()));
    }
    // The file takes the log directory's access list: an Administrator's manual run leaves a
    // file that the scheduled account may still open.
    LockHandle file = OpenInheritingLockFile(path);
    if (!file) {
        return refuse(SystemErrorText(GetLastError()));
    }
    if (!IsRegularFile(NativeHandle(file))) {
        return refuse("not a regular file");
    }
    const DWORD code = TryLockFile(NativeHandle(file));
    if (code == ERROR_LOCK_VIOLATION) {
        return State::HeldElsewhere;
    }
    if (code != ERROR_SUCCESS) {
        return refuse(SystemErrorText(code));
    }
    lock = std::move(file);
    return State::Held;
}

}  // namespace brimlet
