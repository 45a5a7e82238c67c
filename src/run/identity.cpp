#include "run/identity.h"

#include <unistd.h>

#include <filesystem>

#include "common/text.h"

namespace brimlet {

namespace fs = std::filesystem;

namespace {

std::string Absolute(std::string_view p, std::string_view cwd) {
    fs::path path(p);
    if (path.is_relative()) {
        path = fs::path(cwd) / path;
    }
    return path.lexically_normal().string();
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
    // A Linux file name has no extension: the dot in `pub_KA_WIN.64` belongs to the OS part.
    id.name = p.filename().string();
    return id;
}

}  // namespace brimlet
