#pragma once
// Shared pieces of the checksum tests: a run context logging into a scratch directory, the
// log's entries read back, libraries installed as <exeDir>/libVelGnMD5.so.
#include <string>
#include <vector>

#include "run/run_context.h"

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
// Lower-case hex MD5 of `data`, computed with libcrypto's one-shot digest.
std::string Md5Hex(const std::string& data);
// Output of `md5sum` for a file: its 32 hex digits.
std::string Md5sumOf(const std::string& path);

}  // namespace brimlet::test
