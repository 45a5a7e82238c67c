#include "run/check.h"

#include <algorithm>
#include <string>
#include <vector>

#include "cipher/cipher.h"
#include "common/clock.h"
#include "common/failure.h"
#include "common/pair_name.h"
#include "common/path.h"
#include "common/text.h"
#include "fsutil/fsutil.h"
#include "metrics/metrics.h"
#include "process/files.h"
#include "run/checksum.h"
#include "run/component_query.h"
#include "run/connection_procs.h"
#include "run/document.h"
#include "run/get_con_dtls.h"
#include "settings/settings.h"
#include "xml/xml_body.h"

namespace brimlet {

namespace {

class Report {
  public:
    explicit Report(std::FILE* out) : m_out(out) {}
    // Values come from the settings, the file system and the database: none may steer the
    // terminal or forge a line. Backslashes stay single: they are the separator of every
    // Windows path shown here.
    void Line(const std::string& text) {
        std::fprintf(m_out, "%s\n", VisibleControls(text).c_str());
        std::fflush(m_out);
    }
    void Problem(const std::string& text) {
        ++m_problems;
        Line("error: " + text);
    }
    int problems() const { return m_problems; }

  private:
    std::FILE* m_out;
    int m_problems = 0;
};

// Every key problem of the settings text, named after the file. The values are read as the
// run reads them (on Windows the platform's reader, whose rules may differ from ours).
void CheckKeys(Report& report, const std::string& file, std::string_view text) {
    const std::optional<std::vector<std::string>> keys = IniSectionKeys(text, kSettingsSection);
    if (!keys) {
        report.Problem(file + ": no [" + std::string(kSettingsSection) + "] section");
        return;
    }
    const auto value = [&](std::string_view key) {
        return std::string(TrimSpaces(GetIniValue(kSettingsSection, key, file)));
    };
    const auto keyText = [&](std::string_view key) { return file + ": key " + std::string(key); };
    for (const std::string_view key :
         {setting::kConnectionString, setting::kPurl, setting::kSurl, setting::kSrvPath}) {
        if (value(key).empty()) {
            report.Problem(keyText(key) + " missing or blank");
        }
    }
    for (const std::string_view key : {setting::kConnTimeout, setting::kCmdTimeout}) {
        if (const std::string problem = SecondsKeyProblem(file, key, value(key));
            !problem.empty()) {
            report.Problem(problem);
        }
    }
    if (const std::string v = value(setting::kInterval); !v.empty() && !metrics::ParseInterval(v)) {
        report.Problem(keyText(setting::kInterval) + "=" + v +
                       " is not a whole number of seconds above 0");
    }
    for (const std::string& key : *keys) {
        if (std::none_of(std::begin(setting::kAll), std::end(setting::kAll),
                         [&](std::string_view k) { return EqualsIgnoreCaseAscii(k, key); })) {
            report.Line(std::string("note: ")
                            .append(file)
                            .append(": unknown key ")
                            .append(key)
                            .append(" is ignored"));
        }
    }
}

// The document as a run would encrypt it, counted instead of written.
std::size_t EncryptedBytes(RunContext& ctx, DocumentBody& body) {
    std::size_t bytes = 0;
    EncryptDocument(DocumentCipher(),
                    RunDocumentHead(DateTimeText(ctx.log.clock->Now()), ctx.purl, ctx.surl), body,
                    [&](std::string_view chunk) { bytes += chunk.size(); });
    return bytes + kDocumentEnd.size();
}

void CheckDatabase(RunContext& ctx, Report& report) {
    if (!getConnected(ctx, ctx.connection, ctx.connectionString)) {
        report.Problem("no connection to the database (the line above says why)");
        return;
    }
    report.Line("database: connected");
    ComponentBody body = CreateXmlBody(ctx);
    switch (body.Status()) {
        case BodyStatus::Failed:
            report.Problem("the component query failed (the line above says why)");
            return;
        case BodyStatus::NoRows:
            report.Problem("the component query returned no rows for " + ctx.agentType + "/" +
                           ctx.osType + ": a run would remove " + ctx.xmlPath);
            return;
        case BodyStatus::NoUsableRows:
            report.Problem("no row has a usable component type: a run would publish nothing");
            return;
        case BodyStatus::Rows:
            break;
    }
    const std::size_t bytes = EncryptedBytes(ctx, body);
    report.Line("document: " + ctx.xmlPath + ": " + std::to_string(ctx.bodyRows) + " rows in " +
                std::to_string(ctx.bodyGroups) + " groups, " + std::to_string(bytes) +
                " bytes encrypted");
    if (ctx.rowsLeftOut > 0) {
        report.Problem(std::to_string(ctx.rowsLeftOut) +
                       " rows left out: their type is not a valid XML name (listed above); a run "
                       "publishes without them and ends with status 1");
    }
}

}  // namespace

ExecutableIdentity CheckTarget(std::string_view arg, std::string_view linkRoot,
                               std::string_view cwd) {
    if (arg.find_first_of(kPathSeparators) != std::string_view::npos) {
        return IdentityOfPath(arg, cwd);
    }
    return IdentityOfPath(
        JoinPath(JoinPath(linkRoot, arg), std::string(arg).append(kProgramSuffix)), cwd);
}

int CheckPair(RunContext& ctx, const ExecutableIdentity& self, std::FILE* out) {
    Report report(out);
    try {
        if (const std::string why = MissingReason(self.path); !why.empty()) {
            report.Problem("link " + self.path + ": " + why);
            return 1;
        }
        const std::optional<PairName> pair = ParsePairName(self.name);
        if (!pair) {
            report.Problem(self.name + ": not a name of the form prefix_AGENT_OS");
            return 1;
        }
        ctx.log.exeDir = self.dir;
        ctx.log.exeName = self.name;
        ctx.agentType = pair->agent;
        ctx.osType = pair->os;
        ctx.iniPath = SettingsFilePath(self.dir);
        report.Line("pair: " + self.name + " (agent " + ctx.agentType + ", OS " + ctx.osType +
                    "), link " + self.path);

        std::string why;
        const std::string text = ReadSettingsText(ctx.iniPath, why);
        if (!why.empty()) {
            report.Problem("settings file " + ctx.iniPath + ": " + why);
            return 1;
        }
        // A run uses no value of a file it refuses; neither does the check, nor does it blame
        // a key for the refusal.
        if (const std::string distrust = SettingsDistrust(ctx.iniPath); !distrust.empty()) {
            report.Problem("settings file " + ctx.iniPath + " refused: " + distrust);
            return 1;
        }
        if (const std::string exposed = SettingsExposure(ctx.iniPath); !exposed.empty()) {
            report.Line("warning: settings file " + ctx.iniPath + " " + exposed);
        }
        CheckKeys(report, ctx.iniPath, text);
        if (report.problems() > 0) {
            return 1;
        }
        // The run's own reading, so that what is checked is what a run would use.
        if (!getConDtls(ctx) || ctx.log.errEntries > 0) {
            report.Problem("srvpath: no such directory; a run logs \"Path not found\"");
            return 1;
        }
        report.Line("settings: " + ctx.iniPath);

        const std::string agentDir = ctx.srvPath + ctx.agentType + kPathSeparator;
        if (const std::string problem = WritableDirectory(agentDir); !problem.empty()) {
            report.Problem("output directory " + agentDir + ": " + problem);
        } else {
            report.Line("output directory: " + agentDir + " (writable)");
        }
        if (!ctx.metricsDir.empty()) {
            const std::string dir = Anchored(ctx.log.exeDir, ctx.metricsDir);
            if (const std::string problem = WritableDirectory(dir); !problem.empty()) {
                report.Line("warning: metricsdir " + dir + ": " + problem +
                            "; a run would log \"Metrics not written\"");
            } else {
                report.Line("metrics directory: " + dir + " (writable)");
            }
        }
        Md5Library md5(ctx.log.exeDir);
        try {
            md5.BindGetMD5();
            report.Line("MD5 library: " + md5.LoadedFrom());
        } catch (const Failure& failure) {
            // The run's entry says only "File not found"; the refusal says which file and why.
            std::string why = ctx.log.redactor.Describe(failure);
            if (!md5.Refusal().empty()) {
                why += " (" + md5.Refusal() + ")";
            }
            report.Problem("MD5 library " + std::string(kMd5LibraryFile) + ": " + why);
        }
        ctx.xmlPath = DocumentFilePath(ctx.srvPath, ctx.agentType, ctx.osType);
        CheckDatabase(ctx, report);
        CloseConnection(ctx);
        if (report.problems() == 0 && ctx.log.errEntries > 0) {
            report.Problem("the run's log would hold an ERR entry (above)");
        }
    } catch (...) {
        report.Problem(ctx.log.redactor.Describe(CurrentFailure()));
        CloseConnection(ctx);
    }
    if (report.problems() > 0) {
        report.Line("check failed");
        return 1;
    }
    report.Line("check passed: a run would publish " + ctx.xmlPath);
    return 0;
}

}  // namespace brimlet
