#include "process/instance_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/path.h"
#include "common/unique_fd.h"

namespace brimlet {

std::string InstanceLockPath(const std::string& executablePath) {
    return DotNameBeside(executablePath, ".lock");
}

InstanceGuard::State InstanceGuard::Lock(const std::string& path, LockHandle& lock,
                                         std::string& why) {
    const auto refuse = [&why](std::string text) {
        why = std::move(text);
        return State::Refused;
    };
    // No symlink (it could lead anywhere), no waiting on a FIFO; read access is all flock needs.
    UniqueFd fd(
        ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd) {
        return refuse(errno == ELOOP ? "a symbolic link" : std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return refuse(std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return refuse("not a regular file");
    }
    if (st.st_uid != ::geteuid()) {
        return refuse("belongs to uid " + std::to_string(st.st_uid) + ", not to this account");
    }
    // Whoever else may open the file can take the lock first.
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return refuse(std::string("mode ") + mode + ", open to other accounts (must be 0600)");
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return State::HeldElsewhere;
        }
        return refuse(std::strerror(errno));
    }
    lock = LockHandle(fd.Release());
    return State::Held;
}

}  // namespace brimlet
