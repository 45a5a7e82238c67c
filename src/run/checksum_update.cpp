#include <sys/stat.h>

#include "common/clock.h"
#include "common/failure.h"
#include "common/text.h"
#include "db/odbc.h"
#include "log/log.h"
#include "run/checksum.h"
#include "run/run_watchdog.h"

namespace brimlet {

namespace {

constexpr std::string_view kModule = "modMain";
constexpr std::string_view kFunction = "SubUpdateXmlCheckSum";
constexpr std::int32_t kErrObjectNotSet = 91;

// Follows symlinks: a link to the document counts as the document; directories do not.
bool IsPlainFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

void SubUpdateXmlCheckSum(RunContext& ctx, Md5Library& library) {
    int step = 10;
    try {
        // The recorded checksum and release date must keep describing the document that is
        // served; a run that published nothing new has no release to announce.
        if (!ctx.published && !ctx.noData) {
            WriteLog(ctx.log, kModule, kFunction, "MSG",
                     "Checksum not updated in the database: no new xml file was published",
                     ctx.xmlPath, "");
            return;
        }

        step = 20;
        WriteLog(ctx.log, kModule, kFunction, "MSG",
                 "Updating Checksum of " + ctx.xmlPath + " in the database...", "", "");

        step = 30;
        if (!IsPlainFile(ctx.xmlPath)) {
            step = 260;
            WriteLog(ctx.log, kModule, kFunction, "MSG", "File not found", ctx.xmlPath, "");
            return;
        }

        step = 40;
        std::string scratch;
        const std::string checksum(TrimSpaces(Checksum(ctx, library, ctx.xmlPath, scratch)));

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
        {
            const std::int32_t timeout = ctx.cmdTimeoutSec.Seconds();
            const RunWatchdog::Step watch = ctx.watchdog.Arm(ctx.log, kFunction, step, timeout,
                                                             db::CommandTimeoutText(timeout));
            // A result set of the procedure is released unread.
            db::RecordSet unread = cmd.Execute();
        }

        step = 200;
        const std::optional<std::string> status = cmd.ParameterValue("@OutStatus");
        if (status && TrimSpaces(*status) == "1") {
            step = 210;
            WriteLog(ctx.log, kModule, kFunction, "MSG", "Checksum updated in the database", "",
                     "");
            // An empty checksum recorded is no published checksum: the exit status must not
            // report success for it.
            ctx.checksumAccepted = !checksum.empty();
            return;
        }
        step = 230;
        WriteLog(ctx.log, kModule, kFunction, "MSG", "Failed to update Checksum in the database",
                 "", "");
    } catch (...) {
        WriteErrorEntry(ctx.log, kFunction, CurrentFailure(), step);
    }
}

}  // namespace brimlet
