// The scheduler starts the program with no arguments; everything it needs comes from the name
// it was invoked by and the settings file beside it.
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "run/identity.h"
#include "run/run_sequence.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // A file-size limit then makes a write fail (an error entry) instead of killing the run.
    (void)std::signal(SIGXFSZ, SIG_IGN);
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
