#pragma once
// The process around a run: how it may start, and how the watchdog ends it.
#include <string>

#include "process/identity.h"

namespace brimlet {

// A root run in the service account's place would leave root-owned files (the day's log, the
// lock) that every later run of that account fails on: true, with a line on stderr after
// `prefix`, when the effective user is root and `self`'s directory belongs to another account.
// Windows has no such account split: always false there.
bool RefusedAsRoot(const ExecutableIdentity& self, const std::string& prefix);

// On Windows the pair's exe has no console of its own: when it was started without standard
// handles (a double-click, a console parent) and a parent has a console, its output goes
// there. Valid handles (redirections, the Task Scheduler's) are never replaced. Nothing to do
// elsewhere.
void ReachParentConsole() noexcept;

// Before the run: a file-size limit then makes a write fail (an error entry) instead of killing
// the run. Nothing to do on Windows.
void PrepareRunProcess() noexcept;

// Ends the process with `status` at once: no unwinding, no exit handlers, no library's
// detach code, since the main thread may be stuck inside a driver (_exit; TerminateProcess on
// Windows). The system closes the connection and the files.
[[noreturn]] void EndProcessNow(int status) noexcept;

}  // namespace brimlet
