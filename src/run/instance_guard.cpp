#include "run/instance_guard.h"

#include "fsutil/fsutil.h"

namespace brimlet {

std::string InstanceLockPath(const std::string& executablePath) {
    const std::size_t slash = executablePath.find_last_of(kPathDelimiters);
    if (slash == std::string::npos) {
        return "." + executablePath + ".lock";
    }
    return executablePath.substr(0, slash + 1) + "." + executablePath.substr(slash + 1) + ".lock";
}

}  // namespace brimlet
