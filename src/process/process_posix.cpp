#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "process/process.h"

namespace brimlet {

bool RefusedAsRoot(const ExecutableIdentity& self, const std::string& prefix) {
    struct stat st {};
    if (::geteuid() != 0 || ::stat(self.dir.empty() ? "/" : self.dir.c_str(), &st) != 0 ||
        st.st_uid == 0) {
        return false;
    }
    const passwd* owner = ::getpwuid(st.st_uid);
    const std::string user = owner != nullptr ? owner->pw_name : std::to_string(st.st_uid);
    std::fprintf(stderr,
                 "%snot run as root: %s belongs to %s; run it as that account, e.g. "
                 "runuser -u %s -- %s\n",
                 prefix.c_str(), self.dir.c_str(), user.c_str(), user.c_str(), self.path.c_str());
    return true;
}

void ReachParentConsole() noexcept {}

void PrepareRunProcess() noexcept {
    (void)std::signal(SIGXFSZ, SIG_IGN);
}

void EndProcessNow(int status) noexcept {
    ::_exit(status);
}

}  // namespace brimlet
