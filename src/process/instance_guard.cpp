#include "process/instance_guard.h"

#include "fsutil/fsutil.h"

namespace brimlet {

InstanceGuard::State InstanceGuard::Acquire(const std::string& executablePath) {
    const std::string path = InstanceLockPath(executablePath);
    std::string why;
    const State state = Lock(path, m_lock, why);
    if (state == State::Refused) {
        m_refusal = path + ": " + why + "; the instance guard cannot be held";
    }
    return state;
}

std::string InstanceLockPath(const std::string& executablePath) {
    const std::size_t slash = executablePath.find_last_of(kPathDelimiters);
    if (slash == std::string::npos) {
        return "." + executablePath + ".lock";
    }
    return executablePath.substr(0, slash + 1) + "." + executablePath.substr(slash + 1) + ".lock";
}

}  // namespace brimlet
