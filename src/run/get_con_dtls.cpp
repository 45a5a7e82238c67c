#include "run/get_con_dtls.h"

#include <string>

#include "common/failure.h"
#include "common/text.h"
#include "fsutil/fsutil.h"
#include "log/log.h"
#include "process/files.h"
#include "process/identity.h"
#include "settings/settings.h"

namespace brimlet {

namespace {

constexpr std::string_view kModule = "modMain";
constexpr std::string_view kFunction = "getConDtls";
constexpr std::string_view kSection = "Brimlet";

bool IsBlank(std::string_view s) {
    return TrimSpaces(s).empty();
}

}  // namespace

bool getConDtls(RunContext& ctx) noexcept {
    int step = 10;
    try {
        step = 20;
        // The settings name the ODBC driver library that the driver manager loads.
        if (const std::string why = SettingsDistrust(ctx.iniPath); !why.empty()) {
            WriteStderrLine(ctx.log, "settings file " + ctx.iniPath + " refused: " + why);
        } else {
            ctx.connectionString = GetIniValue(kSection, "KEMADDONDBstr", ctx.iniPath);
            ctx.log.redactor.AddConnectionString(ctx.connectionString);
            step = 30;
            ctx.connTimeoutSec =
                SecondsSetting(GetIniValue(kSection, "conntimeoutsec", ctx.iniPath));
            step = 40;
            ctx.cmdTimeoutSec = SecondsSetting(GetIniValue(kSection, "cmdtimeoutsec", ctx.iniPath));
            step = 50;
            ctx.purl = GetIniValue(kSection, "purl", ctx.iniPath);
            step = 60;
            ctx.surl = GetIniValue(kSection, "surl", ctx.iniPath);
            step = 70;
            ctx.srvPath = std::string(TrimSpaces(GetIniValue(kSection, "srvpath", ctx.iniPath)));
            ctx.metricsDir =
                std::string(TrimSpaces(GetIniValue(kSection, "metricsdir", ctx.iniPath)));
            ctx.intervalSec =
                std::string(TrimSpaces(GetIniValue(kSection, "intervalsec", ctx.iniPath)));
        }

        step = 80;
        if (IsBlank(ctx.connectionString) || IsBlank(ctx.purl) || IsBlank(ctx.surl)) {
            step = 90;
            WriteLog(ctx.log, kModule, kFunction, "ERR", "-1",
                     "DBConnection Data missing for Brimlet", "");
            step = 100;
            return false;
        }

        step = 120;
        if (ctx.srvPath.empty()) {
            step = 130;
            WriteLog(ctx.log, kModule, kFunction, "ERR", "Path not available", "", "");
            step = 140;
            ctx.srvPath = ctx.log.exeDir;
            step = 150;
            WriteLog(ctx.log, kModule, kFunction, "MSG", "Default Path ::", ctx.srvPath, "");
        } else {
            // Beside the program, like the settings and the log.
            ctx.srvPath = BesideProgram(ctx.log.exeDir, ctx.srvPath);
            step = 170;
            if (!PathExists(ctx.srvPath)) {
                step = 180;
                WriteLog(ctx.log, kModule, kFunction, "ERR", "Path not found", "", "");
                step = 190;
                ctx.srvPath = ctx.log.exeDir;
                step = 200;
                WriteLog(ctx.log, kModule, kFunction, "MSG", "Default Path ::", ctx.srvPath, "");
            }
        }

        step = 230;
        if (ctx.srvPath.empty() || ctx.srvPath.back() != kPathSeparator) {
            ctx.srvPath += kPathSeparator;
        }
        step = 240;
        return true;
    } catch (...) {
        WriteErrorEntry(ctx.log, kFunction, CurrentFailure(), step);
        return false;
    }
}

}  // namespace brimlet
