#pragma once
// The run's safe points for a stop signal: the signal is reported once, as the error entry of
// the guarded procedure that meets it first, and ctx.stopSignal keeps it for the exit status.
#include <string_view>

#include "run/run_context.h"

namespace brimlet {

// When a stop signal has come and the run has not reported it yet: records it in
// ctx.stopSignal and throws Failure(-1, StopSignalText), so that the guarded procedure
// running writes it as its error entry at its step.
void ThrowIfStopped(RunContext& ctx);
// The same as an entry of `function` at `step`, without throwing; true when the run is
// stopping (reported now or before).
bool StopRequested(RunContext& ctx, std::string_view function, int step);

}  // namespace brimlet
