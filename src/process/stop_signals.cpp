#include "process/stop_signals.h"

#include <atomic>

#include "common/failure.h"
#include "log/log.h"

namespace brimlet {

namespace {

// A signal handler can reach nothing but static storage; this note is the one piece of state
// it shares with the run.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free note");

}  // namespace

int StopSignalReceived() noexcept {
    return g_stopSignal.load();
}

void NoteStopSignal(int sig) noexcept {
    int none = 0;
    g_stopSignal.compare_exchange_strong(none, sig);
}

void ThrowIfStopped(RunContext& ctx) {
    const int sig = StopSignalReceived();
    if (sig != 0 && ctx.stopSignal == 0) {
        ctx.stopSignal = sig;
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
