#pragma once
// `--check`: everything a run of one pair needs, tried without changing anything.
#include <cstdio>
#include <string_view>

#include "process/identity.h"
#include "run/run_context.h"

namespace brimlet {

// The link `--check ARG` names: ARG itself when it holds a "/" (made absolute from `cwd`), else
// the pair's link in the installed layout, <linkRoot>/ARG/ARG.
ExecutableIdentity CheckTarget(std::string_view arg, std::string_view linkRoot,
                               std::string_view cwd);

// Checks the pair of link `self`: its name, its settings file (readable, [Brimlet] section,
// every key a run needs, well-formed), <srvpath>/<AGENT>/ (a writable directory), the MD5
// library, the connection with the configured time-outs and the component query, then builds
// and encrypts the document in memory. Reports each finding on `out`, the log's "ERR" entries
// through its stderr prefix. Creates no file or directory, writes no log entry, document,
// metrics file or database row. 0 when a run would publish without an "ERR" entry, else 1.
int CheckPair(RunContext& ctx, const ExecutableIdentity& self, std::FILE* out);

}  // namespace brimlet
