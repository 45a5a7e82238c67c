#include "run/run_sequence.h"

#include <algorithm>

#include "common/failure.h"
#include "common/pair_name.h"
#include "fsutil/fsutil.h"
#include "log/day_file.h"
#include "process/files.h"
#include "process/instance_guard.h"
#include "process/run_watchdog.h"
#include "run/checksum_update.h"
#include "run/connection_procs.h"
#include "run/publisher.h"
#include "run/run_metrics.h"
#include "run/run_stop.h"

namespace brimlet {

namespace {

constexpr int kPauseMs = 2000;
// A stop signal ends the pause within this.
constexpr int kPauseSliceMs = 100;

void LogMain(RunContext& ctx, std::string_view val1) {
    WriteLog(ctx.log, "modMain", "Main", "MSG", val1, "", "");
}

// The pause before the checksum, ended early by a stop signal (reported at `step`).
void Pause(RunContext& ctx, int step) {
    for (int left = kPauseMs; left > 0; left -= kPauseSliceMs) {
        if (StopRequested(ctx, "Main", step)) {
            return;
        }
        ctx.log.clock->SleepMs(std::min(left, kPauseSliceMs));
    }
}

// A run whose log lost an entry fails too: the log is the run's report.
int Outcome(const RunContext& ctx) {
    return (ctx.published && ctx.checksumAccepted && ctx.stopSignal == 0 &&
            ctx.log.errEntries == 0 && ctx.log.droppedEntries == 0)
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
                WriteStderrLine(ctx.log, Severity::kError, guard.Refusal());
            }
            return held == InstanceGuard::State::Refused ? kExitFailed : kExitPublished;
        }
        ctx.log.exeDir = self.dir;
        ctx.log.exeName = self.name;
        ctx.startTime = ctx.log.clock->Now();

        step = 50;
        (void)CreateDir(ctx.log, ctx.log.exeDir + std::string(kLogFolder));
        step = 60;
        InitLogFile(ctx.log);
        step = 70;
        LogMain(ctx, "START");

        step = 80;
        const std::optional<PairName> pair = ParsePairName(ctx.log.exeName);
        if (!pair) {
            step = 120;
            LogMain(ctx, "OS Type and Agent Type not supplied.");
            WriteStderrText(
                ctx.log.exeName +
                    ": not a name of the form prefix_AGENT_OS; run the program through a "
                    "link so named (three parts separated by \"_\"; the prefix is free, "
                    "AGENT and OS are not empty, \".\" or \"..\"), e.g. " +
                    std::string(kLinkExample) + "\n",
                Severity::kError);
            step = 130;
            LogMain(ctx, "END");
            return kExitFailed;
        }
        step = 90;
        ctx.agentType = pair->agent;
        step = 100;
        ctx.osType = pair->os;

        step = 160;
        ctx.iniPath = SettingsFilePath(ctx.log.exeDir);
        // A refused file has its own line from getConDtls; a used one others may read, a word.
        if (SettingsDistrust(ctx.iniPath).empty()) {
            if (const std::string exposed = SettingsExposure(ctx.iniPath); !exposed.empty()) {
                WriteStderrLine(ctx.log, Severity::kWarning,
                                "settings file " + ctx.iniPath + " " + exposed);
            }
        }
        step = 170;
        if (!StopRequested(ctx, "Main", 160) && OpenConnection(ctx) &&
            !StopRequested(ctx, "Main", step)) {
            step = 180;
            ctx.xmlPath = DocumentFilePath(ctx.srvPath, ctx.agentType, ctx.osType);
            // Made before the hook, so that the watchdog's thread never sees it change.
            ctx.publication = std::make_shared<Publication>(ctx.xmlPath);
            // A run ended by the watchdog from here on puts the previous document back first.
            ctx.watchdog.SetExitHook([&ctx, publication = ctx.publication](LogFile& log) {
                SettlePublication(
                    log, *publication,
                    publication->callInFlight ? RecordOutcome::Unknown : RecordOutcome::NotMade);
                WriteRunMetrics(ctx, kExitFailed);
            });
            step = 190;
            SubCreateBrimletXML(ctx);
            // The document went for want of rows: the service manager hears it, not only the log.
            if (ctx.noData) {
                WriteStderrLine(
                    ctx.log, Severity::kNotice,
                    StderrLine("SubCreateBrimletXML", "No Data available for " + ctx.osType,
                               ctx.agentType, ""));
            }
            step = 200;
            Pause(ctx, step);
            step = 210;
            if (ctx.stopSignal == 0) {
                Md5Library md5(ctx.log.exeDir);
                SubUpdateXmlCheckSum(ctx, md5);
            }
            // Stopped before the call: the new document goes at once.
            SettlePublication(ctx.log, *ctx.publication, RecordOutcome::NotMade);
        }
        step = 230;
        {
            const std::int32_t limit = ctx.connection ? ctx.cmdTimeoutSec.SecondsOr(0) : 0;
            const RunWatchdog::Step watch =
                ctx.watchdog.Arm(ctx.log, "Main", step, limit, db::DisconnectTimeoutText(limit));
            CloseConnection(ctx);
        }
        (void)StopRequested(ctx, "Main", step);
        ctx.watchdog.SetExitHook(nullptr);
        int status = Outcome(ctx);
        if (!WriteRunMetrics(ctx, status)) {
            status = kExitFailed;
        }
        step = 240;
        LogMain(ctx, "END");
        return status;
    } catch (...) {
        const Failure failure = CurrentFailure();
        ctx.watchdog.SetExitHook(nullptr);
        // The document goes back first, so that Main's own entry closes the log.
        if (ctx.publication) {
            SettlePublication(ctx.log, *ctx.publication, RecordOutcome::NotMade);
        }
        WriteErrorEntry(ctx.log, "Main", failure, step);
        (void)WriteRunMetrics(ctx, kExitFailed);
        return kExitFailed;
    }
}

}  // namespace brimlet
