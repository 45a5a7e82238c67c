#pragma once
// The executable's identity as it was invoked: one binary serves many names through links.
#include <string>
#include <string_view>

namespace brimlet {

struct ExecutableIdentity {
    std::string path;  // absolute, ".." kept as invoked, links not resolved
    std::string dir;   // directory of `path`, without a trailing separator ("" for the root)
    std::string name;  // the whole file name, dots included; on Windows without its extension
};

// The program as it runs: on Linux from argv[0] and PATH (ResolveInvokedExecutable), so that a
// symlink is the name; on Windows the module's own file (GetModuleFileNameA, in its long form
// when started through an 8.3 short name), a copy or a hard link of the exe per pair,
// "pub_KA_WIN64.exe" being the link pub_KA_WIN64.
ExecutableIdentity RunningExecutable(std::string_view argv0, std::string_view cwd);
// A link named by a person (--check): `path` made absolute from `cwd`.
ExecutableIdentity IdentityOfPath(std::string_view path, std::string_view cwd);

#ifndef _WIN32
// From argv[0]: a name with a "/" is taken relative to `cwd`; a bare name is looked up in
// `pathEnv` (the PATH value), falling back to `cwd` when no entry holds it.
ExecutableIdentity ResolveInvokedExecutable(std::string_view argv0, std::string_view cwd,
                                            std::string_view pathEnv);
#endif

// What a pair's link ends in, and an example link for the texts that explain a refused name.
#ifdef _WIN32
inline constexpr std::string_view kProgramSuffix = ".exe";
inline constexpr std::string_view kLinkExample =
    "pub_KA_WIN64.exe, a copy or hard link of brimlet.exe";
#else
inline constexpr std::string_view kProgramSuffix;
inline constexpr std::string_view kLinkExample = "pub_KA_LINUX -> /usr/lib/brimlet/brimlet";
#endif

// The paths a pair's run derives from its directory and settings, on the platform's separator.
// "<dir>/Ini/dbstring.Ini" ("<dir>\Ini\dbstring.Ini").
std::string SettingsFilePath(const std::string& exeDir);
// "<srvPath><agent>/Brimlet_<agent>_<os>.xml"; `srvPath` ends in a separator.
std::string DocumentFilePath(const std::string& srvPath, const std::string& agent,
                             const std::string& os);

}  // namespace brimlet
