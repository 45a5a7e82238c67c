#include "run/checksum_update.h"

#include <optional>

#include "common/clock.h"
#include "common/failure.h"
#include "common/text.h"
#include "db/odbc.h"
#include "log/log.h"
#include "process/files.h"
#include "process/run_watchdog.h"
#include "run/checksum.h"
#include "run/run_stop.h"

namespace brimlet {

namespace {

constexpr std::string_view kModule = "modMain";
constexpr std::string_view kFunction = "SubUpdateXmlCheckSum";
constexpr std::int32_t kErrObjectNotSet = 91;
// The step of an undo that failed.
constexpr int kSettleStep = 240;

Failure NotWrittenByThisRun(const std::string& path, const std::string& why) {
    return Failure(-1, "The file at " + path + " is not the one this run wrote (" + why +
                           "); its checksum is not recorded");
}

// The steps of SubUpdateXmlCheckSum up to the call's outcome.
RecordOutcome UpdateXmlCheckSum(RunContext& ctx, Md5Library& library) {
    int step = 10;
    RecordOutcome outcome = RecordOutcome::NotMade;
    try {
        // The recorded checksum and release date must keep describing the document that is
        // served; a run that published nothing new has no release to announce.
        if (!ctx.published && !ctx.noData) {
            WriteLog(ctx.log, kModule, kFunction, "MSG",
                     "Checksum not updated in the database: no new xml file was published",
                     ctx.xmlPath, "");
            return outcome;
        }

        step = 20;
        WriteLog(ctx.log, kModule, kFunction, "MSG",
                 "Updating Checksum of " + ctx.xmlPath + " in the database...", "", "");

        step = 30;
        if (!IsPlainFile(ctx.xmlPath)) {
            if (ctx.published && EntryExists(ctx.xmlPath)) {
                // A link, or anything but a file, where this run put its file.
                step = 40;
                throw NotWrittenByThisRun(ctx.xmlPath, "it is not a regular file");
            }
            step = 260;
            WriteLog(ctx.log, kModule, kFunction, "MSG", "File not found", ctx.xmlPath, "");
            return outcome;
        }

        step = 40;
        std::string scratch;
        const std::string checksum(TrimSpaces(Checksum(ctx, library, ctx.xmlPath, scratch)));

        if (checksum.empty()) {
            // Checksum has logged why; an empty checksum recorded would describe no document,
            // so none is sent, and the settling says what became of the document.
            return RecordOutcome::NotMade;
        }
        // The library read whatever is at the path now; only the bytes this run wrote may be
        // vouched for.
        if (!EqualsIgnoreCaseAscii(checksum, ctx.writtenMd5)) {
            throw NotWrittenByThisRun(ctx.xmlPath,
                                      "its MD5 is " + checksum + ", this run wrote " +
                                          (ctx.writtenMd5.empty() ? std::string("no document")
                                                                  : ToUpperAscii(ctx.writtenMd5)));
        }

        step = 50;
        const std::string releaseDate = DateTimeText(ctx.log.clock->Now());

        step = 60;
        db::Command cmd;

        step = 70;
        if (!ctx.connection) {
            throw Failure(kErrObjectNotSet, "No database connection");
        }
        cmd.SetActiveConnection(*ctx.connection);

        step = 90;
        cmd.SetCommandText("USP_MstAgentXmlCheckSum_IU");

        step = 100;
        cmd.SetCommandTimeout(ctx.cmdTimeoutSec.Seconds());

        using db::ParamDirection;
        using db::ParamType;
        step = 110;
        cmd.AppendParameter("@InAgentType", ParamType::VarChar, ParamDirection::Input, 50,
                            ctx.agentType);
        step = 120;
        cmd.AppendParameter("@InOS", ParamType::VarChar, ParamDirection::Input, 100, ctx.osType);
        step = 130;
        cmd.AppendParameter("@InMD5String", ParamType::VarChar, ParamDirection::Input, 100,
                            checksum);
        step = 140;
        cmd.AppendParameter("@InReleaseDate", ParamType::Date, ParamDirection::Input, 0,
                            releaseDate);
        step = 150;
        cmd.AppendParameter("@InDownloadURL", ParamType::VarChar, ParamDirection::Input, 500,
                            ctx.purl);
        step = 160;
        cmd.AppendParameter("@InSecondryURL", ParamType::VarChar, ParamDirection::Input, 500,
                            ctx.surl);
        step = 170;
        cmd.AppendParameter("@OutStatus", ParamType::Integer, ParamDirection::Output, 0);

        step = 180;
        ThrowIfStopped(ctx);
        // A call that ran to its end after its time-out: its outcome counts, and the time-out
        // is reported after it.
        std::optional<Failure> late;
        try {
            const std::int32_t timeout = ctx.cmdTimeoutSec.Seconds();
            // Without a time-out only a stop signal ends the call early.
            const RunWatchdog::Step watch =
                timeout > 0 ? ctx.watchdog.Arm(ctx.log, kFunction, step, timeout,
                                               db::CommandTimeoutText(timeout))
                            : ctx.watchdog.ArmForStop(ctx.log, kFunction, step);
            if (ctx.publication) {
                ctx.publication->callInFlight = true;
            }
            // A result set of the procedure is released unread.
            db::RecordSet unread = cmd.Execute();
        } catch (const Failure& failure) {
            if (OutcomeUnknown(failure)) {
                outcome = RecordOutcome::Unknown;
            }
            if (!cmd.CompletedAfterCancel()) {
                throw;
            }
            late = failure;
        }
        if (ctx.publication) {
            ctx.publication->callInFlight = false;
        }

        step = 200;
        const std::optional<std::string> status = cmd.ParameterValue("@OutStatus");
        const bool recorded = status && TrimSpaces(*status) == "1";
        if (late && !recorded) {
            // Only a late 1 says what the database holds; anything else stays unknown.
            step = 180;
            throw *late;
        }
        if (recorded) {
            step = 210;
            WriteLog(ctx.log, kModule, kFunction, "MSG", "Checksum updated in the database", "",
                     "");
            ctx.checksumAccepted = true;
            outcome = RecordOutcome::Made;
        } else {
            step = 230;
            WriteLog(ctx.log, kModule, kFunction, "MSG",
                     "Failed to update Checksum in the database", "", "");
        }
        // The record stands, and the document with it; the call still outlived its time-out.
        step = 180;
        if (late) {
            throw *late;
        }
        // A stop that came during the call: it was awaited, and is reported at its step.
        ThrowIfStopped(ctx);
    } catch (...) {
        WriteErrorEntry(ctx.log, kFunction, CurrentFailure(), step);
        (void)StopRequested(ctx, kFunction, step);
    }
    return outcome;
}

}  // namespace

// The server may commit a call after the client gave up on it: a time-out, a cancel or a
// connection lost. Only the diagnostic's own state says so; a message may quote any code.
bool OutcomeUnknown(const Failure& failure) {
    for (const std::string_view state : {"HYT00", "HYT01", "HY008", "08S01", "08003", "08007"}) {
        if (failure.sqlState() == state) {
            return true;
        }
    }
    return false;
}

void SubUpdateXmlCheckSum(RunContext& ctx, Md5Library& library) {
    const RecordOutcome outcome = UpdateXmlCheckSum(ctx, library);
    if (ctx.publication) {
        ctx.publication->callInFlight = false;
        SettlePublication(ctx.log, *ctx.publication, outcome);
    }
}

void SettlePublication(LogFile& log, Publication& publication, RecordOutcome outcome) noexcept {
    const Settlement done = publication.Settle(outcome);
    const std::string why = outcome == RecordOutcome::Unknown
                                ? "Checksum update outcome unknown: "
                                : "Checksum not updated in the database: ";
    switch (done.action) {
        case Settlement::Action::AlreadySettled:
        case Settlement::Action::Kept:
            break;
        case Settlement::Action::PreviousPutBack:
            WriteLog(log, kModule, kFunction, "MSG", why + "the previous xml file is put back",
                     publication.documentPath(), "");
            break;
        case Settlement::Action::NewRemoved:
            WriteLog(log, kModule, kFunction, "MSG", why + "the new xml file is removed",
                     publication.documentPath(), "");
            break;
        case Settlement::Action::UndoFailed:
            WriteErrorEntry(log, kFunction, *done.failure, kSettleStep);
            break;
    }
}

}  // namespace brimlet
