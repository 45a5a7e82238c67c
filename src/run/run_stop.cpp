#include "run/run_stop.h"

#include "common/failure.h"
#include "log/log.h"
#include "process/stop_signals.h"

namespace brimlet {

void ThrowIfStopped(RunContext& ctx) {
    if (const int sig = TakeUnreportedStop(ctx.stopSignal); sig != 0) {
        throw Failure(-1, StopSignalText(sig));
    }
}

bool StopRequested(RunContext& ctx, std::string_view function, int step) {
    try {
        ThrowIfStopped(ctx);
    } catch (const Failure& failure) {
        WriteErrorEntry(ctx.log, function, failure, step);
    }
    return ctx.stopSignal != 0;
}

}  // namespace brimlet
