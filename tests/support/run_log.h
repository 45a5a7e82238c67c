#pragma once
// A RunContext whose log goes to a private directory, for in-process tests of procedures.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "run/run_context.h"
#include "support/e2e.h"
#include "support/temp_dir.h"

namespace brimlet::test {

struct LoggedRun {
    TempDir dir;
    RunContext ctx;

    LoggedRun() {
        ::mkdir((dir / "Log").c_str(), 0755);
        ctx.log.exeDir = dir.path();
        ctx.log.exeName = "pub_AG_OS";
        InitLogFile(ctx.log);
    }
    // Module..Val3 of every entry so far, "|"-joined.
    std::vector<std::string> Entries() const { return EntryTexts(ReadLog(ctx.log.logFilePath)); }
    std::string Raw() const { return ReadFile(ctx.log.logFilePath); }
};

}  // namespace brimlet::test
