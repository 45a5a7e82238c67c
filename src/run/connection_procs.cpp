#include "run/connection_procs.h"

#include "process/run_watchdog.h"
#include "run/get_con_dtls.h"
#include "run/run_bound.h"

namespace brimlet {

bool OpenConnection(RunContext& ctx) {
    int step = 10;
    try {
        step = 20;
        if (!getConDtls(ctx)) {
            return false;
        }
        step = 30;
        if (getConnected(ctx, ctx.connection, ctx.connectionString)) {
            return true;
        }
        step = 40;
        WriteLog(ctx.log, "modMain", "OpenConnection", "ERR",
                 "Could not connect to KEMADDONDB Database", "", "");
        return false;
    } catch (...) {
        WriteErrorEntry(ctx.log, "OpenConnection", CurrentFailure(), step);
        return false;
    }
}

bool getConnected(RunContext& ctx, std::unique_ptr<db::Connection>& connection,
                  const std::string& connectionString) {
    int step = 10;
    try {
        step = 20;
        connection.reset();
        connection = std::make_unique<db::Connection>();
        step = 30;
        connection->SetConnectionString(connectionString);
        step = 40;
        const std::int32_t connTimeout = ctx.connTimeoutSec.Seconds();
        connection->SetConnectionTimeout(connTimeout);
        step = 50;
        const std::int32_t cmdTimeout = ctx.cmdTimeoutSec.Seconds();
        connection->SetCommandTimeout(cmdTimeout);
        step = 70;
        // The run's hard bound: from here on every step of the run has a limit.
        ctx.watchdog.LimitRun(ctx.log, "Main", RunBoundSeconds(connTimeout, cmdTimeout));
        const RunWatchdog::Step watch = ctx.watchdog.Arm(ctx.log, "getConnected", step, connTimeout,
                                                         db::LoginTimeoutText(connTimeout));
        connection->Open();
        return true;
    } catch (...) {
        WriteErrorEntry(ctx.log, "getConnected", CurrentFailure(), step);
        // The entry says "Type mismatch"; the service manager also hears which key, as --check
        // would name it.
        if (step == 40 || step == 50) {
            const bool conn = step == 40;
            const std::string problem =
                SecondsKeyProblem(ctx.iniPath, conn ? setting::kConnTimeout : setting::kCmdTimeout,
                                  (conn ? ctx.connTimeoutSec : ctx.cmdTimeoutSec).text());
            if (!problem.empty()) {
                WriteStderrLine(ctx.log, Severity::kError, "settings file " + problem);
            }
        }
        return false;
    }
}

void CloseConnection(RunContext& ctx) noexcept {
    if (ctx.connection) {
        try {
            ctx.connection->Close();
        } catch (...) {
            // A connection that never opened cannot be closed; releasing it is all that is left.
        }
    }
    ctx.connection.reset();
}

}  // namespace brimlet
