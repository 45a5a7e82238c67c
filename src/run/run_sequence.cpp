#include "run/run_sequence.h"

#include <algorithm>
#include <cstdio>

#include "common/failure.h"
#include "common/text.h"
#include "fsutil/fsutil.h"
#include "run/checksum.h"
#include "run/component_query.h"
#include "run/connection_procs.h"
#include "run/instance_guard.h"
#include "run/run_metrics.h"
#include "run/run_watchdog.h"

namespace brimlet {

namespace {

constexpr int kPauseMs = 2000;

void LogMain(RunContext& ctx, std::string_view val1) {
    WriteLog(ctx.log, "modMain", "Main", "MSG", val1, "", "");
}

// A run whose log lost an entry fails too: the log is the run's report.
int Outcome(const RunContext& ctx) {
    return (ctx.published && ctx.checksumAccepted && ctx.log.errEntries == 0 &&
            ctx.log.droppedEntries == 0)
               ? kExitPublished
               : kExitFailed;
}

}  // namespace

int Main(RunContext& ctx, const ExecutableIdentity& self) {
    InstanceGuard guard;
    WatchedStep step(ctx.watchdog, 10);
    try {
        step = 20;
        if (const auto held = guard.Acquire(self.path); held != InstanceGuard::State::Held) {
            if (held == InstanceGuard::State::Refused) {
                WriteStderrLine(ctx.log, guard.Refusal());
            }
            return held == InstanceGuard::State::Refused ? kExitFailed : kExitPublished;
        }
        ctx.log.exeDir = self.dir;
        ctx.log.exeName = self.name;
        ctx.startTime = ctx.log.clock->Now();

        step = 50;
        (void)CreateDir(ctx.log, ctx.log.exeDir + "/Log/");
        step = 60;
        InitLogFile(ctx.log);
        step = 70;
        LogMain(ctx, "START");

        step = 80;
        const std::vector<std::string> parts = Split(ctx.log.exeName, '_');
        // An agent or OS part "", "." or ".." would put the document outside
        // <srvpath>/<AGENT>/; the prefix enters no path of the document, so it is free.
        const auto unusable = [](const std::string& p) {
            return p.empty() || p == "." || p == "..";
        };
        if (parts.size() != 3 || std::any_of(parts.begin() + 1, parts.end(), unusable)) {
            step = 120;
            LogMain(ctx, "OS Type and Agent Type not supplied.");
            std::fprintf(stderr,
                         "%s: not a name of the form prefix_AGENT_OS; run the program through a "
                         "link so named (three parts separated by \"_\"; the prefix is free, "
                         "AGENT and OS are not empty, \".\" or \"..\"), e.g. pub_KA_LINUX -> "
                         "/usr/lib/brimlet/brimlet\n",
                         ctx.log.exeName.c_str());
            step = 130;
            LogMain(ctx, "END");
            return kExitFailed;
        }
        step = 90;
        ctx.agentType = parts[1];
        step = 100;
        ctx.osType = parts[2];

        step = 160;
        ctx.iniPath = ctx.log.exeDir + "/Ini/dbstring.Ini";
        step = 170;
        if (OpenConnection(ctx)) {
            step = 180;
            ctx.xmlPath = ctx.srvPath + ctx.agentType + "/Brimlet_" + ctx.agentType + "_" +
                          ctx.osType + ".xml";
            step = 190;
            SubCreateBrimletXML(ctx);
            step = 200;
            ctx.log.clock->SleepMs(kPauseMs);
            step = 210;
            Md5Library md5(ctx.log.exeDir);
            SubUpdateXmlCheckSum(ctx, md5);
        }
        step = 230;
        {
            const std::int32_t limit = ctx.connection ? ctx.cmdTimeoutSec.SecondsOr(0) : 0;
            const RunWatchdog::Step watch =
                ctx.watchdog.Arm(ctx.log, "Main", step, limit, db::DisconnectTimeoutText(limit));
            CloseConnection(ctx);
        }
        int status = Outcome(ctx);
        if (!WriteRunMetrics(ctx, status)) {
            status = kExitFailed;
        }
        step = 240;
        LogMain(ctx, "END");
        return status;
    } catch (...) {
        WriteErrorEntry(ctx.log, "Main", CurrentFailure(), step);
        (void)WriteRunMetrics(ctx, kExitFailed);
        return kExitFailed;
    }
}

}  // namespace brimlet
