#pragma once
// The executable's identity as it was invoked: one binary serves many names through links.
#include <string>
#include <string_view>

namespace brimlet {

struct ExecutableIdentity {
    std::string path;  // absolute, ".." kept as invoked, links not resolved
    std::string dir;   // directory of `path`, without a trailing "/" ("" for the root)
    std::string name;  // the whole file name, dots included
};

// From argv[0]: a name with a "/" is taken relative to `cwd`; a bare name is looked up in
// `pathEnv` (the PATH value), falling back to `cwd` when no entry holds it.
ExecutableIdentity ResolveInvokedExecutable(std::string_view argv0, std::string_view cwd,
                                            std::string_view pathEnv);

}  // namespace brimlet
