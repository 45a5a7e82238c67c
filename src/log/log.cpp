#include "log/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/failure.h"
#include "common/fd_io.h"
#include "common/unique_fd.h"

namespace brimlet {

namespace {

constexpr std::string_view kCrLf = "\r\n";

void AppendFlattened(std::string& out, std::string_view value) {
    for (const char c : value) {
        out.push_back((c == '\t' || c == '\r' || c == '\n' || c == '\0') ? ' ' : c);
    }
}

// Appends `data` with one write, so that an entry is all or nothing: after a short write (disk
// full, file-size limit) the file is cut back to `start`, its size before the write. The day's
// file has one writer (one link, one instance), so nothing else grows it meanwhile.
bool AppendWhole(int fd, std::string_view data, off_t start) {
    const ssize_t n = WriteSome(fd, data);
    if (n == static_cast<ssize_t>(data.size())) {
        return true;
    }
    if (n > 0) {
        (void)::ftruncate(fd, start);
        errno = EIO;
    }
    return false;
}

// Never follows a symlink and never waits for a FIFO's reader; the caller still checks with
// fstat that it got a regular file.
UniqueFd OpenDayFile(const std::string& path) {
    return UniqueFd(::open(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
}

Failure NotARegularFile(const std::string& path) {
    return Failure(EINVAL, path + ": not a regular file");
}

std::string Header(const LogFile& log) {
    std::string header;
    header += "#Software: TULO.KEM.DC.";
    header += log.exeName;
    header += kCrLf;
    header += "#Version: 2.0";
    header += kCrLf;
    header += "#Date: ";
    header += GeneralDateText(log.clock->Now());
    header += kCrLf;
    header += "#Fields: DateTime\tModule\tFunction\tType\tVal1\tVal2\tVal3";
    header += kCrLf;
    header += std::string(126, '-');
    header += kCrLf;
    return header;
}

// One write, so that lines of a journal never interleave mid-line; no credential reaches it.
void ToStderr(const LogFile& log, std::string_view text) {
    std::string line = log.stderrPrefix;
    line.append(log.redactor.Apply(text)).push_back('\n');
    (void)WriteAll(STDERR_FILENO, line);
}

}  // namespace

std::string StderrLine(std::string_view function, std::string_view val1, std::string_view val2,
                       std::string_view val3) {
    std::string line;
    AppendFlattened(line, function);
    line.push_back(':');
    for (const std::string_view v : {val1, val2, val3}) {
        if (!v.empty()) {
            line.push_back(' ');
            AppendFlattened(line, v);
        }
    }
    return line;
}

std::string LogEntry(std::string_view dateTime, std::string_view module, std::string_view function,
                     std::string_view type, std::string_view val1, std::string_view val2,
                     std::string_view val3) {
    std::string line;
    line.reserve(dateTime.size() + module.size() + function.size() + type.size() + val1.size() +
                 val2.size() + val3.size() + 8);
    AppendFlattened(line, dateTime);
    for (const std::string_view v : {module, function, type, val1, val2, val3}) {
        line.push_back('\t');
        AppendFlattened(line, v);
    }
    return line;
}

void InitLogFile(LogFile& log) {
    const std::string path =
        log.exeDir + "/Log/" + log.exeName + "_" + DateDigits(log.clock->Now()) + ".log";
    // lstat first, so that a device or FIFO at the day's path is never even opened.
    struct stat st {};
    const bool existed = ::lstat(path.c_str(), &st) == 0;
    if (!existed && errno != ENOENT) {
        throw ErrnoFailure(errno, path);
    }
    if (existed && !S_ISREG(st.st_mode)) {
        throw NotARegularFile(path);
    }
    UniqueFd fd = OpenDayFile(path);
    if (!fd) {
        const int err = errno;
        // The day's file is there but this run may not write it: the run goes on, and every
        // entry it drops makes the run end with status 1.
        if (existed && (err == EACCES || err == EPERM || err == EROFS)) {
            log.logFilePath = path;
            return;
        }
        throw ErrnoFailure(err, path);
    }
    if (::fstat(fd.get(), &st) != 0) {
        throw ErrnoFailure(errno, path);
    }
    if (!S_ISREG(st.st_mode)) {
        throw NotARegularFile(path);
    }
    // A file left empty (a crash before its header, a touch) gets the header like a new one.
    if (st.st_size == 0 && !AppendWhole(fd.get(), Header(log), 0)) {
        throw ErrnoFailure(errno, path);
    }
    if (fd.Close() != 0) {
        throw ErrnoFailure(errno, path);
    }
    log.logFilePath = path;
}

void WriteLog(LogFile& log, std::string_view module, std::string_view function,
              std::string_view type, std::string_view val1, std::string_view val2,
              std::string_view val3) noexcept {
    if (type == "ERR") {
        ++log.errEntries;
    }
    bool written = false;
    int err = 0;
    try {
        if (!log.stderrPrefix.empty() && type == "ERR") {
            ToStderr(log, StderrLine(function, val1, val2, val3));
        }
        if (!log.logFilePath.empty()) {
            const Redactor& r = log.redactor;
            std::string line = r.Empty()
                                   ? LogEntry(GeneralDateText(log.clock->Now()), module, function,
                                              type, val1, val2, val3)
                                   : LogEntry(GeneralDateText(log.clock->Now()), module, function,
                                              type, r.Apply(val1), r.Apply(val2), r.Apply(val3));
            line += kCrLf;
            UniqueFd fd = OpenDayFile(log.logFilePath);
            struct stat st {};
            if (fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
                written = AppendWhole(fd.get(), line, st.st_size);
            }
            err = written ? 0 : (errno != 0 ? errno : EINVAL);
        }
    } catch (...) {
        // The entry is dropped; the log never fails its caller.
    }
    if (!written) {
        ++log.droppedEntries;
        // An open log that loses entries is the one failure its own file cannot report.
        if (!log.stderrPrefix.empty() && !log.logFilePath.empty() && !log.lossReported) {
            log.lossReported = true;
            try {
                ToStderr(log,
                         "cannot write to the log " + log.logFilePath + ": " + std::strerror(err));
            } catch (...) {
            }
        }
    }
}

void ReportRunFailed(const LogFile& log, int status) noexcept {
    if (log.stderrPrefix.empty()) {
        return;
    }
    try {
        std::string line = "run failed (status " + std::to_string(status) + ")";
        if (log.logFilePath.empty()) {
            line += ", no log written";
        } else if (log.droppedEntries > 0) {
            line += ", its log " + log.logFilePath + " is incomplete";
        } else {
            line += ", see " + log.logFilePath;
        }
        ToStderr(log, line);
    } catch (...) {
        // Nothing is left to tell it.
    }
}

void WriteStderrLine(const LogFile& log, std::string_view line) noexcept {
    try {
        ToStderr(log, line);
    } catch (...) {
        // stderr is a courtesy to the service manager; the log is the report.
    }
}

void WriteErrorEntry(LogFile& log, std::string_view function, const Failure& failure, int step) {
    WriteLog(log, "modMain", function, "ERR", std::to_string(failure.number()),
             failure.description(), std::to_string(step));
}

}  // namespace brimlet
