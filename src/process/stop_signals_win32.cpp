#include <windows.h>

#include <string>

#include "process/stop_signals.h"

namespace brimlet {

namespace {

// Windows ends the process once the handler returns from a close event, and after about 5 s
// anyway: the handler waits, so that the run can reach its next safe point first.
constexpr DWORD kCloseWaitMs = 4500;

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            NoteStopSignal(static_cast<int>(event) + 1);
            return TRUE;
        case CTRL_CLOSE_EVENT:
            NoteStopSignal(static_cast<int>(event) + 1);
            Sleep(kCloseWaitMs);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void InstallStopHandlers() noexcept {
    (void)SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

std::string StopSignalText(int sig) {
    const char* name = nullptr;
    switch (sig - 1) {
        case CTRL_C_EVENT:
            name = "CTRL_C_EVENT";
            break;
        case CTRL_BREAK_EVENT:
            name = "CTRL_BREAK_EVENT";
            break;
        case CTRL_CLOSE_EVENT:
            name = "CTRL_CLOSE_EVENT";
            break;
        default:
            break;
    }
    return std::string("Stop signal ") + (name != nullptr ? name : std::to_string(sig)) +
           " received";
}

}  // namespace brimlet
