#include "run/stop_signals.h"

#include <signal.h>

#include <atomic>
#include <cstring>

#include "common/failure.h"
#include "log/log.h"

namespace brimlet {

namespace {

// A signal handler can reach nothing but static storage; this note is the one piece of state
// it shares with the run.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free note");

extern "C" void OnStopSignal(int sig) {
    int none = 0;
    g_stopSignal.compare_exchange_strong(none, sig);
}

}  // namespace

void InstallStopHandlers() noexcept {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        (void)::sigaction(sig, &action, nullptr);
    }
}

int StopSignalReceived() noexcept {
    return g_stopSignal.load();
}

void NoteStopSignal(int sig) noexcept {
    OnStopSignal(sig);
}

std::string StopSignalText(int sig) {
    const char* abbrev = sigabbrev_np(sig);
    return std::string("Stop signal ") +
           (abbrev != nullptr ? "SIG" + std::string(abbrev) : std::to_string(sig)) + " received";
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
