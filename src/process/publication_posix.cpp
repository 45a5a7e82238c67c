#include "process/publication.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/path.h"
#include "common/system_failure.h"
#include "common/unique_fd.h"

namespace brimlet {

namespace {

// Publishing accounts that share a directory through its group take turns on one lock file,
// so it must be theirs to open; elsewhere nobody but the owner needs it.
bool GroupShared(const struct stat& dir) {
    return (dir.st_mode & (S_ISGID | S_IWGRP)) != 0;
}

}  // namespace

std::optional<LockHandle> DocumentLock::Open(const std::string& documentPath,
                                             const std::string& path) {
    const std::string dirPath = DirectoryOf(documentPath);
    struct stat dir {};
    // No directory that this run can reach: the document's own write reports why.
    if (::stat(dirPath.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode)) {
        return std::nullopt;
    }
    const bool shared = GroupShared(dir);
    const mode_t mode = shared ? 0660 : 0600;
    // O_RDWR: a write lock needs a descriptor open for writing. O_NONBLOCK: a FIFO planted
    // there is refused below instead of waited on.
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode));
    if (!fd) {
        const int error = errno;
        // A directory this account cannot write holds no document it could change; a lock
        // file it cannot open in a directory it can write is another account's.
        if ((error == EACCES || error == EROFS) && ::access(dirPath.c_str(), W_OK) != 0) {
            return std::nullopt;
        }
        throw ErrnoFailure(error, "lock " + path);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        throw ErrnoFailure(errno, "lock " + path);
    }
    const bool ours = st.st_uid == ::geteuid();
    const bool ourGroup = shared && st.st_gid == dir.st_gid && (st.st_mode & S_IWOTH) == 0;
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || !(ours || ourGroup)) {
        throw Failure(-1, "lock " + path +
                              ": not a lock file of this account (a regular file of its own "
                              "with one link)");
    }
    // The umask may have taken the group's bits.
    if (ours && (st.st_mode & 07777) != mode) {
        (void)::fchmod(fd.get(), mode);
    }
    return LockHandle(fd.Release());
}

bool DocumentLock::TryOnce(const LockHandle& file, const std::string& path) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(file.native(), F_OFD_SETLK, &lock) == 0) {
        return true;
    }
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
        throw ErrnoFailure(errno, "lock " + path);
    }
    return false;
}

}  // namespace brimlet
