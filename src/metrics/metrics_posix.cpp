#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <random>

#include "common/fd_io.h"
#include "common/system_failure.h"
#include "common/unique_fd.h"
#include "metrics/metrics_file.h"
#include "metrics/status.h"

namespace brimlet::metrics {

namespace {

std::string WithoutTrailingSlashes(std::string path) {
    // "dir/" would follow a symlink named dir in spite of O_NOFOLLOW.
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The previous file's text, or "" when there is none that is a regular file.
std::string ReadPrevious(int dirFd, const std::string& name) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
        return {};
    }
    const UniqueFd fd(
        ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return {};
    }
    // A read error keeps what came before it, as the end of the file would.
    std::string text;
    (void)ReadUpTo(fd.get(), kMetricsFileMaxBytes, text);
    return text;
}

// Removes the temporary file unless it was renamed.
class TempEntry {
  public:
    TempEntry(int dirFd, std::string name) : m_dirFd(dirFd), m_name(std::move(name)) {}
    ~TempEntry() {
        if (!m_name.empty()) {
            ::unlinkat(m_dirFd, m_name.c_str(), 0);
        }
    }
    TempEntry(const TempEntry&) = delete;
    TempEntry& operator=(const TempEntry&) = delete;
    void Keep() { m_name.clear(); }

  private:
    int m_dirFd;
    std::string m_name;
};

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

void ReplaceMetricsFile(const std::string& directory, const RunFigures& run) {
    const std::string dir = WithoutTrailingSlashes(directory);
    const UniqueFd dirFd(
        ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!dirFd) {
        throw ErrnoFailure(errno, "open " + dir);
    }
    const std::string name = MetricsFileName(run.link);
    const std::string text =
        RenderMetrics(run, ReadCarriedOver(ReadPrevious(dirFd.get(), name), run));

    // Not ending in ".prom", so the collector never reads a half-written file.
    std::random_device random;
    std::string tempName;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", random() & 0xffffffu);
        tempName = "." + name + "." + suffix;
        fd = UniqueFd(::openat(dirFd.get(), tempName.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                               0644));
        if (!fd && errno != EEXIST) {
            throw ErrnoFailure(errno,
                               std::string("create ").append(dir).append("/").append(tempName));
        }
    }
    if (!fd) {
        throw ErrnoFailure(EEXIST, "create temporary file in " + dir);
    }
    TempEntry temp(dirFd.get(), tempName);
    // The collector may run as another user; the umask must not hide the file from it.
    if (::fchmod(fd.get(), 0644) != 0) {
        throw ErrnoFailure(errno, "chmod " + tempName);
    }
    if (!WriteAll(fd.get(), text)) {
        throw ErrnoFailure(errno, "write " + tempName);
    }
    if (::fsync(fd.get()) != 0) {
        throw ErrnoFailure(errno, "fsync " + tempName);
    }
    if (fd.Close() != 0) {
        throw ErrnoFailure(errno, "close " + tempName);
    }
    if (::renameat(dirFd.get(), tempName.c_str(), dirFd.get(), name.c_str()) != 0) {
        throw ErrnoFailure(errno, "rename " + tempName + " to " + name + " in " + dir);
    }
    temp.Keep();
    (void)::fsync(dirFd.get());
}

std::vector<PairStatus> ReadStatusDir(const std::string& directory) {
    const UniqueFd dirFd(
        ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
    if (!dirFd) {
        throw ErrnoFailure(errno, directory);
    }
    const int listFd = ::dup(dirFd.get());
    const std::unique_ptr<DIR, DirCloser> dir(listFd >= 0 ? ::fdopendir(listFd) : nullptr);
    if (!dir) {
        const int err = errno;
        if (listFd >= 0) {
            ::close(listFd);
        }
        throw ErrnoFailure(err, directory);
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (IsMetricsFileName(name)) {
            names.emplace_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    std::vector<PairStatus> pairs;
    for (const std::string& name : names) {
        const UniqueFd fd(::openat(dirFd.get(), name.c_str(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        std::string text;
        (void)ReadUpTo(fd.get(), kMetricsFileMaxBytes, text);
        for (PairStatus& pair : ParsePairs(text)) {
            pairs.push_back(std::move(pair));
        }
    }
    return pairs;
}

}  // namespace brimlet::metrics
