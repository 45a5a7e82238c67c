#include "run/get_con_dtls.h"

#include <string>

#include "common/failure.h"
#include "common/path.h"
#include "common/text.h"
#include "fsutil/fsutil.h"
#include "log/log.h"
#include "process/files.h"
#include "settings/settings.h"

namespace brimlet {

namespace {

constexpr std::string_view kModule = "modMain";
constexpr std::string_view kFunction = "getConDtls";

bool IsBlank(std::string_view s) {
    return TrimSpaces(s).empty();
}

}  // namespace

std::string SecondsKeyProblem(const std::string& file, std::string_view key,
                              const std::string& value) {
    const std::string keyText = file + ": key " + std::string(key);
    if (IsBlank(value)) {
        return keyText + " missing";
    }
    try {
        (void)SecondsSetting(value).Seconds();
    } catch (const Failure&) {
        return keyText + "=" + value + " is not a whole number of seconds";
    }
    return {};
}

bool getConDtls(RunContext& ctx) noexcept {
    int step = 10;
    const auto read = [&ctx](std::string_view key) {
        return GetIniValue(kSettingsSection, key, ctx.iniPath);
    };
    try {
        step = 20;
        // The settings name the ODBC driver library that the driver manager loads.
        if (const std::string why = SettingsDistrust(ctx.iniPath); !why.empty()) {
            ctx.settingsRefused = true;
            WriteStderrLine(ctx.log, Severity::kError,
                            "settings file " + ctx.iniPath + " refused: " + why);
        } else {
            ctx.connectionString = read(setting::kConnectionString);
            ctx.log.redactor.AddConnectionString(ctx.connectionString);
            step = 30;
            ctx.connTimeoutSec = SecondsSetting(read(setting::kConnTimeout));
            step = 40;
            ctx.cmdTimeoutSec = SecondsSetting(read(setting::kCmdTimeout));
            step = 50;
            ctx.purl = read(setting::kPurl);
            step = 60;
            ctx.surl = read(setting::kSurl);
            step = 70;
            ctx.srvPath = std::string(TrimSpaces(read(setting::kSrvPath)));
            ctx.metricsDir = std::string(TrimSpaces(read(setting::kMetricsDir)));
            ctx.intervalSec = std::string(TrimSpaces(read(setting::kInterval)));
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
            ctx.srvPath = AnchoredDirectory(ctx.log.exeDir, ctx.srvPath);
            step = 170;
            if (!SettingDirectoryExists(ctx.srvPath)) {
                step = 180;
                WriteLog(ctx.log, kModule, kFunction, "ERR", "Path not found", "", "");
                step = 190;
                ctx.srvPath = ctx.log.exeDir;
                step = 200;
                WriteLog(ctx.log, kModule, kFunction, "MSG", "Default Path ::", ctx.srvPath, "");
            }
        }

        step = 230;
        if (ctx.srvPath.empty() || !IsPathSeparator(ctx.srvPath.back())) {
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
