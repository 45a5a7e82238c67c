#pragma once
// The settings of the run: the "Brimlet" section of the settings file, validated.
#include <string>
#include <string_view>

#include "run/run_context.h"

namespace brimlet {

// The section of the settings file and its keys, as a run reads them (ASCII case ignored).
inline constexpr std::string_view kSettingsSection = "Brimlet";
namespace setting {
inline constexpr std::string_view kConnectionString = "KEMADDONDBstr";
inline constexpr std::string_view kConnTimeout = "conntimeoutsec";
inline constexpr std::string_view kCmdTimeout = "cmdtimeoutsec";
inline constexpr std::string_view kPurl = "purl";
inline constexpr std::string_view kSurl = "surl";
inline constexpr std::string_view kSrvPath = "srvpath";
inline constexpr std::string_view kMetricsDir = "metricsdir";
inline constexpr std::string_view kInterval = "intervalsec";
// Every key a run reads; any other is ignored.
inline constexpr std::string_view kAll[] = {
    kConnectionString, kConnTimeout, kCmdTimeout, kPurl, kSurl, kSrvPath, kMetricsDir, kInterval};
}  // namespace setting

// What is wrong with the time-out key `key`, read as `value` from the settings file `file`:
// "FILE: key KEY missing" or "FILE: key KEY=VALUE is not a whole number of seconds"; "" when
// it gives whole seconds.
std::string SecondsKeyProblem(const std::string& file, std::string_view key,
                              const std::string& value);

// Reads the six settings of section "Brimlet" of ctx.iniPath into ctx, insists on a connection
// string and both download URLs, and settles ctx.srvPath (falling back to the executable directory
// when it is blank or names nothing that exists), completed with a trailing "/". True when the
// settings are usable. Writes its own log entries ("modMain", "getConDtls") and never throws.
bool getConDtls(RunContext& ctx) noexcept;

}  // namespace brimlet
