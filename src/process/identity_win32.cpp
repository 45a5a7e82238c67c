#include <windows.h>

#include <string>
#include <vector>

#include "common/pair_name.h"
#include "process/identity.h"

namespace brimlet {

namespace {

// An 8.3 short name ("PUB_~ETF.EXE") says nothing of the pair: the long form names it.
std::string LongForm(std::string path) {
    const DWORD size = GetLongPathNameA(path.c_str(), nullptr, 0);
    if (size == 0) {
        return path;
    }
    std::string full(size, '\0');
    const DWORD n = GetLongPathNameA(path.c_str(), full.data(), size);
    if (n == 0 || n >= size) {
        return path;
    }
    full.resize(n);
    return full;
}

ExecutableIdentity FromFullPath(std::string given) {
    std::string full = LongForm(std::move(given));
    ExecutableIdentity id;
    const std::size_t slash = full.rfind('\\');
    id.dir = slash == std::string::npos ? std::string() : full.substr(0, slash);
    id.name = LinkNameOf(slash == std::string::npos ? full : full.substr(slash + 1));
    id.path = std::move(full);
    return id;
}

}  // namespace

ExecutableIdentity RunningExecutable(std::string_view /*argv0*/, std::string_view /*cwd*/) {
    // The module's own file answers for copies and hard links alike; argv[0] is whatever the
    // starter wrote there.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            return FromFullPath(std::string(buffer.data(), n));
        }
        buffer.resize(buffer.size() * 2);
    }
}

ExecutableIdentity IdentityOfPath(std::string_view path, std::string_view /*cwd*/) {
    // Relative to the process's working directory, which is `cwd`; "/" becomes "\".
    const std::string given(path);
    const DWORD size = GetFullPathNameA(given.c_str(), 0, nullptr, nullptr);
    std::string full(size, '\0');
    const DWORD n = size == 0 ? 0 : GetFullPathNameA(given.c_str(), size, full.data(), nullptr);
    if (n == 0 || n >= size) {
        return FromFullPath(given);
    }
    full.resize(n);
    return FromFullPath(std::move(full));
}

}  // namespace brimlet
