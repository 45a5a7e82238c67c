// The scheduler starts the program with no arguments; everything it needs comes from the name
// it was invoked by and the settings file beside it. The only arguments are for a person at a
// shell, and they are answered before the run could create its log directory or any file.
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "run/identity.h"
#include "run/run_sequence.h"
#include "run/stop_signals.h"

namespace {

constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "usage: prefix_AGENT_OS\n"
    "       brimlet --help | --version\n";

constexpr std::string_view kHelp =
    "Publishes the component list of agent type AGENT on OS type OS as an encrypted XML\n"
    "document and records its MD5 checksum in the database.\n"
    "\n"
    "Run it, without arguments, through a link named prefix_AGENT_OS (three parts separated\n"
    "by \"_\"), e.g. /var/lib/brimlet/pub_KA_LINUX/pub_KA_LINUX -> /usr/lib/brimlet/brimlet.\n"
    "The settings are read from Ini/dbstring.Ini beside the link, the day's log is written to\n"
    "Log/ there, and the document to <srvpath>/AGENT/Brimlet_AGENT_OS.xml.\n"
    "Exit status: 0 published and recorded (or the same link already running), 1 otherwise.\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "See brimlet(8).\n";

bool Print(std::FILE* stream, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
           std::fflush(stream) == 0;
}

// The answer to the arguments, or -1 when there are none and the run goes ahead.
int AnswerArguments(int argc, char** argv) {
    if (argc < 2) {
        return -1;
    }
    const std::string_view arg = argv[1] != nullptr ? argv[1] : "";
    if (arg == "--help" || arg == "--version") {
        const std::string version = std::string("brimlet ") + BRIMLET_VERSION + "\n";
        if (!Print(stdout,
                   arg == "--help" ? std::string(kUsage) + "\n" + std::string(kHelp) : version)) {
            std::fputs("brimlet: cannot write to standard output\n", stderr);
            return EXIT_FAILURE;
        }
        return EXIT_SUCCESS;
    }
    std::fprintf(stderr, "brimlet: unexpected argument '%.*s' (the program takes none)\n",
                 static_cast<int>(arg.size()), arg.data());
    Print(stderr, kUsage);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int answered = AnswerArguments(argc, argv); answered >= 0) {
        return answered;
    }
    std::setlocale(LC_ALL, "");
    // A file-size limit then makes a write fail (an error entry) instead of killing the run.
    (void)std::signal(SIGXFSZ, SIG_IGN);
    // A stop is honoured at the run's next safe point, where the document stays whole.
    brimlet::InstallStopHandlers();
    const char* argv0 = (argc > 0 && argv[0] != nullptr) ? argv[0] : "brimlet";
    std::string cwd;
    std::error_code ec;
    cwd = std::filesystem::current_path(ec).string();
    const char* pathEnv = std::getenv("PATH");
    const brimlet::ExecutableIdentity self =
        brimlet::ResolveInvokedExecutable(argv0, cwd, pathEnv != nullptr ? pathEnv : "");
    brimlet::RunContext ctx;
    return brimlet::Main(ctx, self);
}
