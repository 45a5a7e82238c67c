#include "log/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/failure.h"
#include "common/unique_fd.h"

namespace brimlet {

namespace {

constexpr std::string_view kCrLf = "\r\n";

void AppendFlattened(std::string& out, std::string_view value) {
    for (const char c : value) {
        out.push_back((c == '\t' || c == '\r' || c == '\n') ? ' ' : c);
    }
}

// Writes all of `data`, retrying short writes; false on any failure.
bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

UniqueFd OpenForAppend(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
}

}  // namespace

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
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            throw ErrnoFailure(errno, path);
        }
        UniqueFd fd = OpenForAppend(path);
        if (!fd) {
            throw ErrnoFailure(errno, path);
        }
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
        if (!WriteAll(fd.get(), header)) {
            throw ErrnoFailure(errno, path);
        }
        if (fd.Close() != 0) {
            throw ErrnoFailure(errno, path);
        }
    }
    log.logFilePath = path;
}

void WriteLog(LogFile& log, std::string_view module, std::string_view function,
              std::string_view type, std::string_view val1, std::string_view val2,
              std::string_view val3) noexcept {
    if (type == "ERR") {
        ++log.errEntries;
    }
    try {
        if (log.logFilePath.empty()) {
            return;
        }
        std::string line =
            LogEntry(GeneralDateText(log.clock->Now()), module, function, type, val1, val2, val3);
        line += kCrLf;
        UniqueFd fd = OpenForAppend(log.logFilePath);
        if (!fd) {
            return;
        }
        // One write call for the whole line, so concurrent appenders never interleave within it.
        (void)WriteAll(fd.get(), line);
    } catch (...) {
        // The entry is dropped; the log never fails its caller.
    }
}

void WriteErrorEntry(LogFile& log, std::string_view function, const Failure& failure, int step) {
    WriteLog(log, "modMain", function, "ERR", std::to_string(failure.number()),
             failure.description(), std::to_string(step));
}

}  // namespace brimlet
