#pragma once
// Replacing a file by another of the same directory on Windows. Header-only, like
// handle_win32.h.
#include <windows.h>

#include <string>

namespace brimlet {

// A reader holding the target open (a scanner looking at it, a web server or an exporter
// reading it) refuses its replacement; such a hold is brief, so the move is tried again for
// about a second.
inline constexpr int kReplaceAttempts = 20;
inline constexpr DWORD kReplacePauseMs = 50;

// Moves `from` over `to` in one step, as rename(2) does, returning once the new entry is on
// disk. False with GetLastError() set.
inline bool MoveReplacing(const std::string& from, const std::string& to) {
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExA(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        const DWORD code = GetLastError();
        if ((code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) ||
            attempt == kReplaceAttempts) {
            SetLastError(code);
            return false;
        }
        Sleep(kReplacePauseMs);
    }
}

}  // namespace brimlet
