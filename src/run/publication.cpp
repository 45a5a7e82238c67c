#include "run/publication.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "common/failure.h"

namespace brimlet {

namespace {

constexpr auto kLockPoll = std::chrono::milliseconds(50);

std::string Beside(const std::string& path, std::string_view suffix) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + name + std::string(suffix);
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Publishing accounts that share a directory through its group take turns on one lock file,
// so it must be theirs to open; elsewhere nobody but the owner needs it.
bool GroupShared(const struct stat& dir) {
    return (dir.st_mode & (S_ISGID | S_IWGRP)) != 0;
}

}  // namespace

std::string DocumentLock::PathFor(const std::string& documentPath) {
    return Beside(documentPath, ".lock");
}

DocumentLock::Result DocumentLock::Acquire(const std::string& documentPath,
                                           std::chrono::milliseconds wait,
                                           const std::function<bool()>& stopped) {
    const std::string path = PathFor(documentPath);
    const std::string dirPath = DirectoryOf(documentPath);
    struct stat dir {};
    // No directory that this run can reach: the document's own write reports why.
    if (::stat(dirPath.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode)) {
        return Result::NothingToGuard;
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
            return Result::NothingToGuard;
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
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::fcntl(fd.get(), F_OFD_SETLK, &lock) != 0) {
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
            throw ErrnoFailure(errno, "lock " + path);
        }
        if (stopped && stopped()) {
            return Result::Stopped;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return Result::TimedOut;
        }
        std::this_thread::sleep_for(kLockPoll);
    }
    m_fd = std::move(fd);
    return Result::Acquired;
}

Publication::Publication(std::string documentPath)
    : m_path(std::move(documentPath)), m_kept(KeptPathFor(m_path)) {}

Publication::~Publication() {
    DropKept();
}

std::string Publication::KeptPathFor(const std::string& documentPath) {
    return Beside(documentPath, ".previous");
}

void Publication::KeepPrevious() {
    // Only the lock holder comes here, so a kept file found now is a killed run's leftover.
    if (::unlink(m_kept.c_str()) != 0 && errno != ENOENT) {
        throw ErrnoFailure(errno, "remove " + m_kept);
    }
    // A hard link keeps the old document whole at no cost; it goes back with one rename.
    if (::link(m_path.c_str(), m_kept.c_str()) == 0) {
        m_hadPrevious = true;
        m_keeping = true;
        return;
    }
    if (errno != ENOENT) {
        throw ErrnoFailure(errno, "keep " + m_path + " as " + m_kept);
    }
    m_hadPrevious = false;
}

void Publication::DropKept() noexcept {
    if (m_keeping.exchange(false)) {
        ::unlink(m_kept.c_str());
    }
}

void Publication::Settle(LogFile& log, RecordOutcome outcome) noexcept {
    if (m_settled.exchange(true)) {
        return;
    }
    if (!m_replaced || outcome == RecordOutcome::Made) {
        DropKept();
        m_lock.Release();
        return;
    }
    const bool restored = m_hadPrevious;
    const bool ok = restored ? ::rename(m_kept.c_str(), m_path.c_str()) == 0
                             : (::unlink(m_path.c_str()) == 0 || errno == ENOENT);
    const int error = errno;
    if (ok) {
        m_keeping = false;
        m_rolledBack = true;
        const std::string why = outcome == RecordOutcome::Unknown
                                    ? "Checksum update outcome unknown: "
                                    : "Checksum not updated in the database: ";
        WriteLog(
            log, "modMain", "SubUpdateXmlCheckSum", "MSG",
            why + (restored ? "the previous xml file is put back" : "the new xml file is removed"),
            m_path, "");
    } else {
        WriteErrorEntry(
            log, "SubUpdateXmlCheckSum",
            ErrnoFailure(error, (restored ? "put back " + m_kept + " as " : "remove ") + m_path),
            240);
        DropKept();
    }
    m_lock.Release();
}

}  // namespace brimlet
