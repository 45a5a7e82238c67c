#pragma once
// The run sequence: one fixed order of steps, once per process.
#include "process/identity.h"
#include "run/run_context.h"

namespace brimlet {

// Exit statuses: 0 only when a document was published, its checksum accepted and no "ERR"
// entry was written; a second instance also ends with 0 (a skipped overlapping run is no
// failure); 1 on every other path. A run that published after falling back to the program's
// directory ("Path not available", "Path not found") or leaving rows out has written an ERR
// entry, so it ends with 1 too: the operator has to act.
inline constexpr int kExitPublished = 0;
inline constexpr int kExitFailed = 1;

// Runs the whole sequence for the executable `self` and returns the exit status.
// `ctx` starts empty; its clock may be replaced by tests.
int Main(RunContext& ctx, const ExecutableIdentity& self);

}  // namespace brimlet
