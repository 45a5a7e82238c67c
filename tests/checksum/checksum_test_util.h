#pragma once
// Shared pieces of the checksum tests: a run context logging into a scratch directory, the
// log's entries read back, libraries installed as <exeDir>/libVelGnMD5.so (and the MD5 to check
// against).
#include <string>
#include <vector>

#include "run/run_context.h"
#include "support/md5.h"

namespace brimlet::test {

struct LogRow {
    std::string module, function, type, val1, val2, val3;
};

// Points ctx (exeDir, exeName, log) at `dir`, creates dir/Log and the day's log file.
void InitTestRun(RunContext& ctx, const std::string& dir);
// The entries of the log file after its five header lines, without their DateTime column.
std::vector<LogRow> ReadLogRows(const RunContext& ctx);
// Copies a shared library to dir/libVelGnMD5.so.
void InstallMd5Library(const std::string& from, const std::string& dir);

}  // namespace brimlet::test
