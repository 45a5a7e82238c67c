#include <windows.h>

#include <cstdio>

#include "process/process.h"

namespace brimlet {

namespace {

bool Usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

void ReachParentConsole() noexcept {
    const bool out = Usable(GetStdHandle(STD_OUTPUT_HANDLE));
    const bool err = Usable(GetStdHandle(STD_ERROR_HANDLE));
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS)) {
        return;
    }
    // Only the missing streams go to the console; a redirected one stays where it was sent.
    const auto reach = [](DWORD id, std::FILE* stream) {
        const HANDLE console =
            CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        // The handle stays open for the process's life: it is the standard handle now.
        if (Usable(console) && SetStdHandle(id, console)) {
            // The CRT's own stream, reopened in place: nothing new to own.
            (void)std::freopen("CONOUT$", "w", stream);  // NOLINT(cppcoreguidelines-owning-memory)
        }
    };
    if (!out) {
        reach(STD_OUTPUT_HANDLE, stdout);
    }
    if (!err) {
        reach(STD_ERROR_HANDLE, stderr);
    }
}

bool RefusedAsRoot(const ExecutableIdentity& /*self*/, const std::string& /*prefix*/) {
    return false;
}

void PrepareRunProcess() noexcept {}

void EndProcessNow(int status) noexcept {
    // ExitProcess would run every DLL's detach code, which may wait on a lock that the stuck
    // thread holds inside the driver.
    (void)TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ExitProcess(static_cast<UINT>(status));
}

}  // namespace brimlet
