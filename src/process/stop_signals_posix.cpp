#include <signal.h>

#include <cstring>
#include <string>

#include "process/stop_signals.h"

namespace brimlet {

namespace {

extern "C" void OnStopSignal(int sig) {
    NoteStopSignal(sig);
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

std::string StopSignalText(int sig) {
    const char* abbrev = sigabbrev_np(sig);
    return std::string("Stop signal ") +
           (abbrev != nullptr ? "SIG" + std::string(abbrev) : std::to_string(sig)) + " received";
}

}  // namespace brimlet
