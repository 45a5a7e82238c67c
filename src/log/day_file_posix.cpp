#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/fd_io.h"
#include "common/system_failure.h"
#include "common/unique_fd.h"
#include "log/day_file.h"
#include "log/journal_stream.h"

namespace brimlet {

bool DayFileExists(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return false;
        }
        throw ErrnoFailure(errno, path);
    }
    if (!S_ISREG(st.st_mode)) {
        throw NotARegularFile(path);
    }
    return true;
}

struct DayFile::State {
    std::string path;
    UniqueFd fd;
    int err = 0;
};

DayFile::DayFile(const std::string& path) : m_state(std::make_unique<State>()) {
    m_state->path = path;
    m_state->fd = UniqueFd(::open(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!m_state->fd) {
        m_state->err = errno;
    }
}

DayFile::~DayFile() = default;

DayFile::operator bool() const {
    return static_cast<bool>(m_state->fd);
}

bool DayFile::Refused() const {
    const int err = m_state->err;
    return !m_state->fd && (err == EACCES || err == EPERM || err == EROFS);
}

std::optional<std::uint64_t> DayFile::RegularSize() {
    struct stat st {};
    if (::fstat(m_state->fd.get(), &st) != 0) {
        m_state->err = errno;
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        m_state->err = EINVAL;
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

bool DayFile::AppendWhole(std::string_view data, std::uint64_t start) {
    const ssize_t n = WriteSome(m_state->fd.get(), data);
    if (n == static_cast<ssize_t>(data.size())) {
        return true;
    }
    m_state->err = n < 0 ? errno : EIO;
    // The failure reported is the write's, whether or not the cut back succeeds.
    if (n > 0) {
        const int cut = ::ftruncate(m_state->fd.get(), static_cast<off_t>(start));
        static_cast<void>(cut);
    }
    return false;
}

bool DayFile::Close() {
    if (m_state->fd.Close() != 0) {
        m_state->err = errno;
        return false;
    }
    return true;
}

Failure DayFile::LastFailure() const {
    if (m_state->err == EINVAL) {
        return NotARegularFile(m_state->path);
    }
    return ErrnoFailure(m_state->err, m_state->path);
}

std::string DayFile::Reason() const {
    return std::strerror(m_state->err != 0 ? m_state->err : EINVAL);
}

void WriteStderr(std::string_view text) {
    (void)WriteAll(STDERR_FILENO, text);
}

// The journal files a line by its prefix, and only a stream it still holds as fd 2 is read so.
void WriteReportLine(std::string_view line, Severity severity) {
    const char* journal = std::getenv("JOURNAL_STREAM");
    struct stat st {};
    if (journal == nullptr || ::fstat(STDERR_FILENO, &st) != 0 ||
        !IsJournalStream(journal, static_cast<std::uint64_t>(st.st_dev),
                         static_cast<std::uint64_t>(st.st_ino))) {
        WriteStderr(line);
        return;
    }
    // Every line of the text, as the journal reads each line alone.
    std::string prefixed;
    for (std::size_t start = 0; start < line.size();) {
        const std::size_t end = std::min(line.find('\n', start), line.size() - 1) + 1;
        prefixed += JournalPriorityPrefix(severity);
        prefixed += line.substr(start, end - start);
        start = end;
    }
    WriteStderr(prefixed);
}

}  // namespace brimlet
