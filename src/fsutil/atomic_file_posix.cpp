#include "fsutil/atomic_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>

#include "common/fd_io.h"
#include "common/path.h"
#include "common/system_failure.h"
#include "common/unique_fd.h"

namespace brimlet {

namespace {

// Bytes handed to the disk at a time while the document is still being written.
constexpr off_t kWriteBackWindow = off_t{8} << 20;

// Commit's fsync would otherwise find the whole document dirty and write it in one go;
// handing each finished window to the disk while the rest is produced overlaps the two.
// A hint only: a failure here leaves the work, and its check, to the fsync.
void StartWriteBack(int fd, std::size_t justWritten) {
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end < 0) {
        return;
    }
    const off_t begin = end - static_cast<off_t>(justWritten);
    if (begin / kWriteBackWindow == end / kWriteBackWindow) {
        return;
    }
    const off_t from = begin / kWriteBackWindow * kWriteBackWindow;
    const off_t to = end / kWriteBackWindow * kWriteBackWindow;
    (void)::sync_file_range(fd, from, to - from, SYNC_FILE_RANGE_WRITE);
}

// Gives the unnamed file `fd` a temporary name beside `path`, ready for the rename.
std::string LinkUnnamed(int fd, const std::string& path) {
    const std::string dir = DirectoryOf(path);
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", random() & 0xffffffu);
        std::string name = DotNameBeside(path, ".") + suffix;
        if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return name;
        }
        if (errno != EEXIST) {
            throw ErrnoFailure(errno, "name temporary file in " + dir);
        }
    }
    throw ErrnoFailure(EEXIST, "name temporary file in " + dir);
}

}  // namespace

unsigned CurrentUmask() {
    // /proc keeps the mask readable; umask() itself can only be read by setting it.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return static_cast<unsigned>(mask);
}

struct AtomicFile::Handle {
    UniqueFd fd;
};

AtomicFile::AtomicFile(std::string path)
    : m_path(std::move(path)), m_file(std::make_unique<Handle>()) {
    const std::string dir = DirectoryOf(m_path);
    // An unnamed file leaves nothing behind when the process is killed while writing; it gets
    // a name only at Commit, just before the rename. /proc is needed to give it that name.
    if (::access("/proc/self/fd", X_OK) == 0) {
        const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_file->fd = UniqueFd(fd);
            return;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            throw ErrnoFailure(errno, "create temporary file in " + dir);
        }
    }
    std::string pattern = DotNameBeside(m_path, ".") + "XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        throw ErrnoFailure(errno, "create temporary file in " + dir);
    }
    m_file->fd = UniqueFd(fd);
    m_tempPath = std::move(pattern);
}

AtomicFile::~AtomicFile() {
    if (!m_committed) {
        m_file->fd.Close();
        if (!m_tempPath.empty()) {
            ::unlink(m_tempPath.c_str());
        }
    }
}

void AtomicFile::Write(std::string_view data) {
    const std::size_t total = data.size();
    if (!WriteAll(m_file->fd.get(), data)) {
        const int err = errno;
        throw ErrnoFailure(err, "write " + TempName());
    }
    StartWriteBack(m_file->fd.get(), total);
}

void AtomicFile::Commit() {
    // mkstemp creates 0600, which would lock readers such as the web server out.
    if (::fchmod(m_file->fd.get(), 0666 & ~static_cast<mode_t>(CurrentUmask())) != 0) {
        const int err = errno;
        throw ErrnoFailure(err, "chmod " + TempName());
    }
    if (::fsync(m_file->fd.get()) != 0) {
        const int err = errno;
        throw ErrnoFailure(err, "fsync " + TempName());
    }
    if (m_tempPath.empty()) {
        m_tempPath = LinkUnnamed(m_file->fd.get(), m_path);
    }
    if (m_file->fd.Close() != 0) {
        const int err = errno;
        throw ErrnoFailure(err, "close " + TempName());
    }
    if (::rename(m_tempPath.c_str(), m_path.c_str()) != 0) {
        throw ErrnoFailure(errno, "rename " + m_tempPath + " to " + m_path);
    }
    m_committed = true;
    const UniqueFd dir(::open(DirectoryOf(m_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) {
        ::fsync(dir.get());
    }
}

}  // namespace brimlet
