#include "log/log.h"

#include <cstdint>
#include <optional>
#include <string>

#include "common/failure.h"
#include "common/text.h"
#include "log/day_file.h"

namespace brimlet {

namespace {

constexpr std::string_view kCrLf = "\r\n";

void AppendFlattened(std::string& out, std::string_view value) {
    for (const char c : value) {
        out.push_back((c == '\t' || c == '\r' || c == '\n' || c == '\0') ? ' ' : c);
    }
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

// One write, so that lines of a journal never interleave mid-line; a terminal gets no control
// sequence from a name or a driver's text.
void ToStderr(const LogFile& log, Severity severity, std::string_view text) {
    std::string line = VisibleControls(log.stderrPrefix + std::string(text));
    line.push_back('\n');
    WriteReportLine(line, severity);
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
    const std::string path = log.exeDir + std::string(kLogFolder) + log.exeName + "_" +
                             DateDigits(log.clock->Now()) + ".log";
    // Looked at first, so that a device or FIFO at the day's path is never even opened.
    const bool existed = DayFileExists(path);
    DayFile file(path);
    if (!file) {
        // The day's file is there but this run may not write it: the run goes on, and every
        // entry it drops makes the run end with status 1.
        if (existed && file.Refused()) {
            log.logFilePath = path;
            return;
        }
        throw file.LastFailure();
    }
    const std::optional<std::uint64_t> size = file.RegularSize();
    // A file left empty (a crash before its header, a touch) gets the header like a new one.
    if (!size || (*size == 0 && !file.AppendWhole(Header(log), 0)) || !file.Close()) {
        throw file.LastFailure();
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
    std::string reason;
    try {
        if (!log.stderrPrefix.empty() && type == "ERR") {
            ToStderr(log, Severity::kError, StderrLine(function, val1, val2, val3));
        }
        if (!log.logFilePath.empty()) {
            std::string line = LogEntry(GeneralDateText(log.clock->Now()), module, function, type,
                                        val1, val2, val3);
            line += kCrLf;
            DayFile file(log.logFilePath);
            std::optional<std::uint64_t> size;
            if (file) {
                size = file.RegularSize();
            }
            written = size && file.AppendWhole(line, *size);
            if (!written) {
                reason = file.Reason();
            }
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
                ToStderr(log, Severity::kError,
                         "cannot write to the log " + log.logFilePath + ": " + reason);
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
        ToStderr(log, Severity::kError, line);
    } catch (...) {
        // Nothing is left to tell it.
    }
}

void WriteStderrText(std::string_view text) noexcept {
    try {
        WriteStderr(text);
    } catch (...) {
        // Nowhere else to say it.
    }
}

void WriteStderrText(std::string_view text, Severity severity) noexcept {
    try {
        WriteReportLine(text, severity);
    } catch (...) {
        // Nowhere else to say it.
    }
}

void WriteStderrLine(const LogFile& log, Severity severity, std::string_view line) noexcept {
    try {
        ToStderr(log, severity, line);
    } catch (...) {
        // stderr is a courtesy to the service manager; the log is the report.
    }
}

void WriteErrorEntry(LogFile& log, std::string_view function, const Failure& failure, int step) {
    WriteLog(log, "modMain", function, "ERR", std::to_string(failure.number()),
             log.redactor.Describe(failure), std::to_string(step));
}

}  // namespace brimlet
