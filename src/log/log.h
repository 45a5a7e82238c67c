#pragma once
// The daily log file: its name, its five-line header and one line per entry.
#include <string>
#include <string_view>

#include "common/clock.h"
#include "common/failure.h"
#include "common/redact.h"
#include "log/severity.h"

namespace brimlet {

// The log's state for one run. `logFilePath` stays empty until InitLogFile has run, and
// WriteLog drops every entry while it is empty.
struct LogFile {
    std::string exeDir;   // directory of the executable, no trailing "/"
    std::string exeName;  // executable name without extension
    const Clock* clock = &SystemClock();
    std::string logFilePath;
    int errEntries = 0;      // "ERR" entries written or attempted in this run
    int droppedEntries = 0;  // entries that could not be written (a run that lost any fails)
    // When set (e.g. "brimlet[pub_KA_LINUX]: "), every "ERR" entry is also one line on stderr
    // after this prefix, and the first entry lost from an open log says so there once.
    std::string stderrPrefix;
    bool lossReported = false;
    // Credentials of the connection string. A failure's text reaches the log, stderr or a
    // terminal only as redactor.Describe gives it (WriteErrorEntry does so); the program's own
    // texts are written as they are.
    Redactor redactor;
};

// Names the day's file (exeDir + "/Log/" + exeName + "_ddmmyyyy.log", "\Log\" on Windows),
// creates it when missing and writes the header when it is empty. Only a regular file is the day's
// log: a symlink, FIFO, directory or device at that path is neither followed, opened nor waited on,
// and throws Failure, as do a missing Log directory and a file that cannot be created or
// given its header; logFilePath then keeps its earlier value. An existing regular file that
// cannot be opened for writing (read-only) is accepted: its entries are dropped.
void InitLogFile(LogFile& log);

// Appends one entry: date-time and the six texts, TAB-separated, CR LF, with one write, so an
// entry is whole or absent (a short write is cut back off). Opens, writes and closes the file
// per call, on the same terms as InitLogFile (no symlink, no waiting, a regular file only).
// Never fails towards the caller: an entry that cannot be written is dropped and counted in
// droppedEntries. With stderrPrefix set, an "ERR" entry also goes to stderr as
// "<prefix><function>: <val1> <val2> <val3>" (empty values left out), the file or not. A
// failure's text is given as log.redactor.Describe gives it.
void WriteLog(LogFile& log, std::string_view module, std::string_view function,
              std::string_view type, std::string_view val1, std::string_view val2,
              std::string_view val3) noexcept;

// Writes `text` to stderr as it stands (on a Windows console as UTF-16 from the ANSI text);
// never fails. With a severity, `text` is one of a run's report lines.
void WriteStderrText(std::string_view text) noexcept;
void WriteStderrText(std::string_view text, Severity severity) noexcept;

// Writes stderrPrefix, `line` and a line feed to stderr as a report line ranked `severity`,
// control characters made visible (VisibleControls); never fails.
void WriteStderrLine(const LogFile& log, Severity severity, std::string_view line) noexcept;

// The entry line without its CR LF. TAB, CR, LF and NUL inside a value become one blank each,
// so every entry stays one line of seven columns and the file stays text.
std::string LogEntry(std::string_view dateTime, std::string_view module, std::string_view function,
                     std::string_view type, std::string_view val1, std::string_view val2,
                     std::string_view val3);

// The stderr line of an entry, without its prefix and line end: "<function>: " and the
// non-empty values joined by blanks, flattened to one line like the entry.
std::string StderrLine(std::string_view function, std::string_view val1, std::string_view val2,
                       std::string_view val3);

// With stderrPrefix set, the last line of a failed run on stderr: "run failed (status N)" and
// where its log is, or that there is none or that it is incomplete. Never throws.
void ReportRunFailed(const LogFile& log, int status) noexcept;

// The common error entry of the guarded procedures of modMain:
// ("modMain", function, "ERR", number, description, step), the driver's part of the
// description redacted.
void WriteErrorEntry(LogFile& log, std::string_view function, const Failure& failure, int step);

}  // namespace brimlet
