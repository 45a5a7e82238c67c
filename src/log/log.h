#pragma once
// The daily log file: its name, its five-line header and one line per entry.
#include <string>
#include <string_view>

#include "common/clock.h"
#include "common/failure.h"

namespace brimlet {

// The log's state for one run. `logFilePath` stays empty until InitLogFile has run, and
// WriteLog drops every entry while it is empty.
struct LogFile {
    std::string exeDir;   // directory of the executable, no trailing "/"
    std::string exeName;  // executable name without extension
    const Clock* clock = &SystemClock();
    std::string logFilePath;
    int errEntries = 0;  // "ERR" entries written or attempted in this run
};

// Names the day's file (exeDir + "/Log/" + exeName + "_ddmmyyyy.log") and writes the header
// when no entry of that name exists. Throws Failure when the file cannot be created or
// written; logFilePath then keeps its earlier value.
void InitLogFile(LogFile& log);

// Appends one entry: date-time and the six texts, TAB-separated, CR LF. Opens, writes and
// closes the file per call. Never fails towards the caller: an entry that cannot be written
// is dropped.
void WriteLog(LogFile& log, std::string_view module, std::string_view function,
              std::string_view type, std::string_view val1, std::string_view val2,
              std::string_view val3) noexcept;

// The entry line without its CR LF. TAB, CR and LF inside a value become one blank each,
// so every entry stays one line of seven columns.
std::string LogEntry(std::string_view dateTime, std::string_view module, std::string_view function,
                     std::string_view type, std::string_view val1, std::string_view val2,
                     std::string_view val3);

// The common error entry of the guarded procedures of modMain:
// ("modMain", function, "ERR", number, description, step).
void WriteErrorEntry(LogFile& log, std::string_view function, const Failure& failure, int step);

}  // namespace brimlet
