#include "checksum_test_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "common/text.h"
#include "support/e2e.h"
#include "support/temp_dir.h"

namespace brimlet::test {

void InitTestRun(RunContext& ctx, const std::string& dir) {
    ctx.log.exeDir = dir;
    ctx.log.exeName = "chk_AGT_OS";
    std::filesystem::create_directories(dir + "/Log");
    InitLogFile(ctx.log);
}

std::vector<LogRow> ReadLogRows(const RunContext& ctx) {
    std::vector<LogRow> rows;
    for (const LogColumns& c : CheckedEntries(ReadLog(ctx.log.logFilePath))) {
        rows.push_back(LogRow{c[0], c[1], c[2], c[3], c[4], c[5]});
    }
    return rows;
}

void InstallMd5Library(const std::string& from, const std::string& dir) {
    std::filesystem::copy_file(from, dir + "/libVelGnMD5.so",
                               std::filesystem::copy_options::overwrite_existing);
}

}  // namespace brimlet::test
