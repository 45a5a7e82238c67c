#include <windows.h>

#include "process/files_win32.h"
#include "process/instance_guard.h"

namespace brimlet {

InstanceGuard::State InstanceGuard::Lock(const std::string& path, LockHandle& lock,
                                         std::string& why) {
    const auto refuse = [&why](std::string text) {
        why = std::move(text);
        return State::Refused;
    };
    LockHandle file = OpenLockFile(path);
    if (!file) {
        return refuse(SystemErrorText(GetLastError()));
    }
    // Whoever else may open the file can take the lock first.
    if (const std::string why = ForeignLockFile(NativeHandle(file)); !why.empty()) {
        return refuse(why);
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
