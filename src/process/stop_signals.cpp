#include "process/stop_signals.h"

#include <atomic>

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

int TakeUnreportedStop(int& reported) noexcept {
    const int sig = StopSignalReceived();
    if (sig == 0 || reported != 0) {
        return 0;
    }
    reported = sig;
    return sig;
}

}  // namespace brimlet
