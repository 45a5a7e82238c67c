#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/fd_io.h"
#include "common/system_failure.h"
#include "common/trust.h"
#include "common/unique_fd.h"
#include "process/files.h"
#include "process/lock_handle.h"
#include "settings/settings.h"

namespace brimlet {

void LockHandle::Close() noexcept {
    const int fd = std::exchange(m_native, kNone);
    if (fd >= 0) {
        ::close(fd);
    }
}

bool EntryExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsPlainFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<FileFacts> PlainFileFacts(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return FileFacts{st.st_size, st.st_mtime};
}

bool RemoveFileIfPresent(const std::string& path, const std::string& context) {
    if (::unlink(path.c_str()) == 0) {
        return true;
    }
    // ENOTDIR: a part of the path is a plain file, so no file can be there; EISDIR: a directory
    // is there, which a search for a file does not find.
    if (errno != ENOENT && errno != ENOTDIR && errno != EISDIR) {
        throw ErrnoFailure(errno, context);
    }
    return false;
}

void RemoveFileQuietly(const std::string& path) noexcept {
    ::unlink(path.c_str());
}

bool HardLinkIfPresent(const std::string& target, const std::string& link,
                       const std::string& context) {
    if (::link(target.c_str(), link.c_str()) == 0) {
        return true;
    }
    const int err = errno;
    if (err == ENOENT) {
        return false;
    }
    struct stat st {};
    // fs.protected_hardlinks: only the owner (or a writer) may link a file, so the old document
    // of another account cannot be kept, and the caller must not replace it.
    if (err == EPERM && ::lstat(target.c_str(), &st) == 0 && st.st_uid != ::geteuid()) {
        const passwd* owner = ::getpwuid(st.st_uid);
        throw Failure(err, ErrnoFailure(err, context).description() + "; " + target +
                               " belongs to " +
                               (owner != nullptr ? std::string(owner->pw_name)
                                                 : "uid " + std::to_string(st.st_uid)) +
                               ", another account, so it cannot be kept and is not replaced");
    }
    throw ErrnoFailure(err, context);
}

std::optional<Failure> RenameOver(const std::string& from, const std::string& to,
                                  const std::string& context) noexcept {
    if (::rename(from.c_str(), to.c_str()) == 0) {
        return std::nullopt;
    }
    return ErrnoFailure(errno, context);
}

bool ClearReadOnly(const std::string& /*path*/, const std::string& /*context*/) {
    return false;
}

void MarkReadOnly(const std::string& /*path*/) noexcept {}

std::optional<Failure> RemoveFile(const std::string& path, const std::string& context) noexcept {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
        return std::nullopt;
    }
    return ErrnoFailure(errno, context);
}

std::string WritableDirectory(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
        return std::strerror(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return "not a directory";
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        return std::strerror(errno);
    }
    return {};
}

std::string MissingReason(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? std::string() : std::strerror(errno);
}

std::string SettingsDistrust(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return {};
    }
    return DistrustOf(fd.get());
}

std::string SettingsExposure(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IROTH) == 0) {
        return {};
    }
    std::string mode = "0000";
    for (std::size_t i = 0; i < 3; ++i) {
        mode[3 - i] = static_cast<char>('0' + ((st.st_mode >> (3 * i)) & 07));
    }
    return "readable by others (mode " + mode + "), though it holds the database password";
}

std::string ReadSettingsText(const std::string& path, std::string& why) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        why = std::strerror(errno);
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        why = "not a regular file";
        return {};
    }
    std::string text;
    if (!ReadUpTo(fd.get(), kIniFileMaxBytes, text)) {
        why = std::strerror(errno);
    }
    return text;
}

}  // namespace brimlet
