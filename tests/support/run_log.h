#pragma once
// A RunContext whose log goes to a private directory, for in-process tests of procedures.
#ifdef _WIN32
#include <filesystem>
#else
#include <sys/stat.h>
#endif

#include <string>
#include <vector>

#include "run/run_context.h"
#include "support/e2e.h"
#include "support/temp_dir.h"

namespace brimlet::test {

struct LogRow {
    std::string module, function, type, val1, val2, val3;
};

struct LoggedRun {
    TempDir dir;
    RunContext ctx;

    LoggedRun() {
#ifdef _WIN32
        std::filesystem::create_directory(dir / "Log");
#else
        ::mkdir((dir / "Log").c_str(), 0755);
#endif
        ctx.log.exeDir = dir.path();
        ctx.log.exeName = "pub_AG_OS";
        InitLogFile(ctx.log);
    }
    // Module..Val3 of every entry so far, "|"-joined.
    std::vector<std::string> Entries() const {
        return EntryTexts(ReadLog(ctx.log.logFilePath));
    }
    // The entries without their DateTime column, each checked for CR LF and seven columns.
    std::vector<LogRow> Rows() const {
        std::vector<LogRow> rows;
        for (const LogColumns& c : CheckedEntries(ReadLog(ctx.log.logFilePath))) {
            rows.push_back(LogRow{c[0], c[1], c[2], c[3], c[4], c[5]});
        }
        return rows;
    }
    std::string Raw() const {
        return ReadFile(ctx.log.logFilePath);
    }
};

}  // namespace brimlet::test
