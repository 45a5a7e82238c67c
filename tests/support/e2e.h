#pragma once
// Running the real binary under a chosen name in a private directory, and reading back its log.
#include <string>
#include <vector>

#include <sys/types.h>

namespace brimlet::test {

// Path of the built `brimlet` executable.
std::string BrimletBinary();

// Creates dir/name as a symlink to the built binary and returns its path.
std::string LinkBrimlet(const std::string& dir, const std::string& name);

struct ProcessResult {
    int exitStatus = -1;  // -1 when killed by a signal
    int signal = 0;
    double seconds = 0;
    std::string err;  // what it wrote to stderr
};

// Runs `program` with argv[0] = argv0 (no other arguments) in working directory `cwd`, with
// extra environment entries "K=V" added to the test's own environment. Waits for it.
ProcessResult RunProgram(const std::string& program, const std::string& argv0,
                         const std::string& cwd, const std::vector<std::string>& extraEnv = {});

// Runs `command` with sh; returns its exit status (-1 when it did not exit) and its output,
// standard error included.
int Shell(const std::string& command, std::string& output);

// `root` and its children (from /proc): a database server with the processes it forked.
std::vector<pid_t> ServerProcesses(pid_t root);

// One log entry split into its seven columns (DateTime first). Header lines are skipped.
using LogColumns = std::vector<std::string>;
struct LogFileContent {
    std::vector<std::string> header;  // lines starting with "#" or "---", in order
    std::vector<LogColumns> entries;  // every other line, split at TABs
    std::string raw;
    bool lastLineEnded = true;  // false when the last line has no CR LF
};
LogFileContent ReadLog(const std::string& path);

// Module..Val3 (columns 1 to 6) of every entry that has seven columns. Adds a test failure for
// every other entry, for one holding a CR or LF, and for a last line without CR LF.
std::vector<LogColumns> CheckedEntries(const LogFileContent& log);

// The only *.log file in dir/Log, or "" when there is none.
std::string FindLogFile(const std::string& dir);

// Module..Val3 (columns 1 to 6) of every entry, joined by "|", for compact comparisons.
std::vector<std::string> EntryTexts(const LogFileContent& log);

// Writes dir/Ini/dbstring.Ini with a [Brimlet] section holding the given "key=value" lines.
void WriteIni(const std::string& dir, const std::vector<std::string>& lines);

}  // namespace brimlet::test
