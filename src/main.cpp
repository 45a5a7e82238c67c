// The scheduler starts the program with no arguments; everything it needs comes from the name
// it was invoked by and the settings file beside it. The arguments are for a person at a shell,
// and none of them creates a file or directory.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/failure.h"
#include "common/pair_name.h"
#include "common/path.h"
#include "log/log.h"
#include "metrics/status.h"
#include "process/files.h"
#include "process/identity.h"
#include "process/process.h"
#include "process/stop_signals.h"
#include "process/unit_check.h"
#include "run/check.h"
#include "run/run_sequence.h"

#ifdef _WIN32
#define BRIMLET_HELP_LINK_IN_ROOT "\\LINK\\LINK.exe"
// The pair's exe shows no window, and cmd does not wait for it: a person at a prompt uses the
// console build of the same program.
#define BRIMLET_COMMAND "brimlet-cli"
#define BRIMLET_MANUAL "docs\\windows.md in the package"
#else
#define BRIMLET_HELP_LINK_IN_ROOT "/LINK/LINK"
#define BRIMLET_COMMAND "brimlet"
#define BRIMLET_MANUAL "brimlet(8)"
#endif

namespace {

constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "usage: prefix_AGENT_OS [--check]\n"
    "       " BRIMLET_COMMAND " --check LINK | --status [DIR] | --help | --version\n";

// Around the --status default, which is the platform's.
constexpr std::string_view kHelpHead =
    "Publishes the component list of agent type AGENT on OS type OS as an encrypted XML\n"
    "document and records its MD5 checksum in the database.\n"
    "\n"
    "Run it, without arguments, through a link named prefix_AGENT_OS (three parts separated\n"
#ifdef _WIN32
    "by \"_\"): a copy or hard link of brimlet.exe, e.g. " BRIMLET_LINK_ROOT
    "\\pub_KA_WIN64\\pub_KA_WIN64.exe.\n"
    "The settings are read from Ini\\dbstring.Ini beside it, the day's log is written to\n"
    "Log\\ there, and the document to <srvpath>\\AGENT\\Brimlet_AGENT_OS.xml. Every ERR entry\n"
#else
    "by \"_\"), e.g. /var/lib/brimlet/pub_KA_LINUX/pub_KA_LINUX -> /usr/lib/brimlet/brimlet.\n"
    "The settings are read from Ini/dbstring.Ini beside the link, the day's log is written to\n"
    "Log/ there, and the document to <srvpath>/AGENT/Brimlet_AGENT_OS.xml. Every ERR entry\n"
#endif
    "of the log also goes to standard error, and a failed run ends with one line there.\n"
    "Exit status: 0 published and recorded (or the same link already running), 1 otherwise.\n"
    "\n"
    "  --check        check the pair of the link (or of LINK: a path to a link, or a bare\n"
    "                 name for " BRIMLET_LINK_ROOT BRIMLET_HELP_LINK_IN_ROOT
    "): its settings, its output\n"
    "                 directory, the MD5 library, the connection and the component query;\n"
    "                 builds and encrypts the document in memory and says what a run would\n"
    "                 publish. Changes nothing: no log, document, database row or metrics.\n"
    "                 Exit status 0 when a run would succeed, 1 otherwise.\n"
    "  --status [DIR] one line per pair from the metrics files brimlet_*.prom in DIR\n"
    "                 (default ";
constexpr std::string_view kHelpTail =
    ");\n"
    "                 failing and overdue pairs first; overdue: last success older than\n"
    "                 3 x intervalsec (3600 s when a pair gives none). Exit status 1 when\n"
    "                 any pair is failing or overdue.\n"
    "  --help         print this text and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "See " BRIMLET_MANUAL ".\n";

bool Print(std::FILE* stream, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
           std::fflush(stream) == 0;
}

int Usage(std::string_view complaint) {
    if (!complaint.empty()) {
        brimlet::WriteStderrText("brimlet: " + std::string(complaint) + "\n");
    }
    brimlet::WriteStderrText(kUsage);
    return kExitUsage;
}

std::string Prefix(const std::string& link) {
    return "brimlet[" + link + "]: ";
}

int Status(const char* dirArg) {
    const std::string dir =
        dirArg != nullptr ? dirArg : std::string(brimlet::metrics::kDefaultStatusDir);
    try {
        auto pairs = brimlet::metrics::ReadStatusDir(dir);
        // The shared directory may hold files of pairs taken away since; on a system with the
        // link root, only pairs that still have their link there count.
        const std::string root = BRIMLET_LINK_ROOT;
        std::size_t leftOut = 0;
        if (dirArg == nullptr && brimlet::MissingReason(root).empty()) {
            pairs = brimlet::metrics::LinkedPairs(
                std::move(pairs),
                [&root](const std::string& link) {
                    return brimlet::ParsePairName(link).has_value() &&
                           link.find_first_of(brimlet::kPathSeparators) == std::string::npos &&
                           brimlet::MissingReason(
                               brimlet::JoinPath(brimlet::JoinPath(root, link),
                                                 link + std::string(brimlet::kProgramSuffix)))
                               .empty();
                },
                leftOut);
            if (leftOut > 0) {
                brimlet::WriteStderrText("brimlet: " + std::to_string(leftOut) +
                                         " pairs with no link under " + root + " left out\n");
            }
        }
        if (pairs.empty()) {
            brimlet::WriteStderrText("brimlet: no brimlet_*.prom metrics file in " + dir + "\n");
            return EXIT_FAILURE;
        }
        bool anyBad = false;
        const std::string report = brimlet::metrics::StatusReport(
            pairs, static_cast<std::int64_t>(std::time(nullptr)), anyBad);
        if (!Print(stdout, report)) {
            return EXIT_FAILURE;
        }
        return anyBad ? EXIT_FAILURE : EXIT_SUCCESS;
    } catch (const brimlet::Failure& failure) {
        brimlet::WriteStderrText("brimlet: " + failure.description() + "\n");
        return EXIT_FAILURE;
    }
}

int Check(const brimlet::ExecutableIdentity& target) {
#ifndef _WIN32
    // Root checks a packaged pair as its unit would run it; this returns only where it cannot.
    brimlet::CheckInsideUnit(target, BRIMLET_LINK_ROOT);
#endif
    if (brimlet::RefusedAsRoot(target, Prefix(target.name))) {
        return EXIT_FAILURE;
    }
    brimlet::RunContext ctx;
    ctx.log.stderrPrefix = Prefix(target.name);
    return brimlet::CheckPair(ctx, target, stdout);
}

}  // namespace

int main(int argc, char** argv) {
    brimlet::ReachParentConsole();
    const std::string_view arg = argc >= 2 && argv[1] != nullptr ? argv[1] : "";
    if (arg == "--help" || arg == "--version") {
        const std::string version = std::string("brimlet ") + BRIMLET_VERSION + "\n";
        if (!Print(stdout, arg == "--help" ? std::string(kUsage) + "\n" + std::string(kHelpHead) +
                                                 std::string(brimlet::metrics::kDefaultStatusDir) +
                                                 std::string(kHelpTail)
                                           : version)) {
            brimlet::WriteStderrText("brimlet: cannot write to standard output\n");
            return EXIT_FAILURE;
        }
        return EXIT_SUCCESS;
    }
    if (argc >= 2 && arg != "--check" && arg != "--status") {
        return Usage("unexpected argument '" + std::string(arg) + "'");
    }
    if (argc > 3) {
        return Usage("too many arguments");
    }
    std::setlocale(LC_ALL, "");
    if (arg == "--status") {
        return Status(argc == 3 ? argv[2] : nullptr);
    }

    const char* argv0 = (argc > 0 && argv[0] != nullptr) ? argv[0] : "brimlet";
    std::error_code ec;
    const std::string cwd = std::filesystem::current_path(ec).string();
    const brimlet::ExecutableIdentity self = brimlet::RunningExecutable(argv0, cwd);
    // Only the program's own name is not a pair's link; any other runs and logs what it is.
    const bool program = brimlet::IsProgramName(self.name);
    if (arg == "--check") {
        if (argc == 3) {
            return Check(brimlet::CheckTarget(argv[2], BRIMLET_LINK_ROOT, cwd));
        }
        return program ? Usage("--check needs a LINK under this name") : Check(self);
    }
    if (program) {
        return Usage("this name is the program, not a pair's link");
    }
    if (brimlet::RefusedAsRoot(self, Prefix(self.name))) {
        return EXIT_FAILURE;
    }
    brimlet::PrepareRunProcess();
    // A stop is honoured at the run's next safe point, where the document stays whole.
    brimlet::InstallStopHandlers();
    brimlet::RunContext ctx;
    ctx.log.stderrPrefix = Prefix(self.name);
    const int status = brimlet::Main(ctx, self);
    if (status != brimlet::kExitPublished) {
        ReportRunFailed(ctx.log, status);
    }
    return status;
}
