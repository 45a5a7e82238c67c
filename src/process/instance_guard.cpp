#include "process/instance_guard.h"

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

}  // namespace brimlet
