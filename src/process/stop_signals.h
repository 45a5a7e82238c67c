#pragma once
// SIGTERM, SIGINT and SIGHUP ask the run to stop (on Windows: Ctrl+C, Ctrl+Break and the
// console's closing). The handler only notes the signal; the run looks at the note at its safe
// points, where it can still leave the document whole and say why it ended.
#include <string>

namespace brimlet {

// Catches the three stop signals from now on; the handler restarts interrupted calls, so a
// driver in the middle of a read never sees EINTR. On Windows a console control handler.
void InstallStopHandlers() noexcept;
// The first stop signal received, or 0. On Windows the console control event plus one, since
// CTRL_C_EVENT is 0.
int StopSignalReceived() noexcept;
// Notes `sig` as if it had been received (what the handler does).
void NoteStopSignal(int sig) noexcept;
// "Stop signal SIGTERM received"; on Windows "Stop signal CTRL_C_EVENT received".
std::string StopSignalText(int sig);
// The stop signal received and not yet reported: when one has come and `reported` is still 0,
// sets `reported` to it and returns it; otherwise 0. `reported` is the caller's own record.
int TakeUnreportedStop(int& reported) noexcept;

}  // namespace brimlet
