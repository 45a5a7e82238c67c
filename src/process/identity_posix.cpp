#include "process/identity.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/pair_name.h"
#include "common/text.h"

namespace brimlet {

namespace fs = std::filesystem;

namespace {

// Relative to `cwd`, "." and repeated "/" dropped, ".." kept: "sym/.." is where the kernel
// goes (the target's parent), not where a text edit would.
std::string Absolute(std::string_view p, std::string_view cwd) {
    const bool relative = p.empty() || p.front() != '/';
    std::string joined = relative && !cwd.empty() ? std::string(cwd) + "/" : std::string();
    joined += p;
    // No working directory known (getcwd failed): the path stays relative.
    const bool absolute = !joined.empty() && joined.front() == '/';
    std::string out;
    for (const std::string& element : Split(joined, '/')) {
        if (!element.empty() && element != ".") {
            if (absolute || !out.empty()) {
                out += "/";
            }
            out += element;
        }
    }
    return out.empty() ? (absolute ? "/" : ".") : out;
}

}  // namespace

ExecutableIdentity ResolveInvokedExecutable(std::string_view argv0, std::string_view cwd,
                                            std::string_view pathEnv) {
    std::string full;
    if (argv0.find('/') != std::string_view::npos) {
        full = Absolute(argv0, cwd);
    } else {
        for (const std::string& dir : Split(pathEnv, ':')) {
            // An empty PATH entry means the working directory.
            const std::string candidate =
                Absolute((dir.empty() ? "." : dir) + "/" + std::string(argv0), cwd);
            if (::access(candidate.c_str(), X_OK) == 0) {
                full = candidate;
                break;
            }
        }
        if (full.empty()) {
            full = Absolute(argv0, cwd);
        }
    }
    ExecutableIdentity id;
    id.path = full;
    const fs::path p(full);
    id.dir = p.parent_path().string();
    while (!id.dir.empty() && id.dir.back() == '/') {
        id.dir.pop_back();
    }
    id.name = LinkNameOf(p.filename().string());
    return id;
}

ExecutableIdentity RunningExecutable(std::string_view argv0, std::string_view cwd) {
    const char* pathEnv = std::getenv("PATH");
    return ResolveInvokedExecutable(argv0, cwd, pathEnv != nullptr ? pathEnv : "");
}

ExecutableIdentity IdentityOfPath(std::string_view path, std::string_view cwd) {
    return ResolveInvokedExecutable(path, cwd, "");
}

}  // namespace brimlet
