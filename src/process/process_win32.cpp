#include <windows.h>

#include "process/process.h"

namespace brimlet {

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
