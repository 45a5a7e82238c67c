#include <windows.h>

#include <cstdint>
#include <string>

#include "common/code_page_win32.h"
#include "common/handle_win32.h"
#include "common/system_failure.h"
#include "log/day_file.h"
#include "log/event_log_win32.h"

namespace brimlet {

bool DayFileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            return false;
        }
        throw SystemFailure(code, path);
    }
    if ((attributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
        throw NotARegularFile(path);
    }
    return true;
}

struct DayFile::State {
    std::string path;
    UniqueHandle file;
    DWORD code = ERROR_SUCCESS;
    bool notRegular = false;
};

DayFile::DayFile(const std::string& path) : m_state(std::make_unique<State>()) {
    m_state->path = path;
    // A reparse point is opened as itself, never followed; others may read and rotate the
    // file while it is open.
    m_state->file = UniqueHandle(CreateFileA(
        path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!m_state->file) {
        m_state->code = GetLastError();
    }
}

DayFile::~DayFile() = default;

DayFile::operator bool() const {
    return static_cast<bool>(m_state->file);
}

bool DayFile::Refused() const {
    const DWORD code = m_state->code;
    return !m_state->file && (code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT);
}

std::optional<std::uint64_t> DayFile::RegularSize() {
    if (GetFileType(m_state->file.get()) != FILE_TYPE_DISK) {
        m_state->notRegular = true;
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(m_state->file.get(), &info)) {
        m_state->code = GetLastError();
        return std::nullopt;
    }
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        m_state->notRegular = true;
        return std::nullopt;
    }
    return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

bool DayFile::AppendWhole(std::string_view data, std::uint64_t start) {
    // At the size just read: the day's file has one writer (one link, one instance).
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(start);
    at.OffsetHigh = static_cast<DWORD>(start >> 32);
    DWORD done = 0;
    const BOOL ok =
        WriteFile(m_state->file.get(), data.data(), static_cast<DWORD>(data.size()), &done, &at);
    if (ok && done == data.size()) {
        return true;
    }
    m_state->code = ok ? ERROR_DISK_FULL : GetLastError();
    if (done > 0) {
        LARGE_INTEGER position{};
        position.QuadPart = static_cast<LONGLONG>(start);
        if (SetFilePointerEx(m_state->file.get(), position, nullptr, FILE_BEGIN)) {
            (void)SetEndOfFile(m_state->file.get());
        }
    }
    return false;
}

bool DayFile::Close() {
    if (!m_state->file.Close()) {
        m_state->code = GetLastError();
        return false;
    }
    return true;
}

Failure DayFile::LastFailure() const {
    if (m_state->notRegular) {
        return NotARegularFile(m_state->path);
    }
    return SystemFailure(m_state->code, m_state->path);
}

std::string DayFile::Reason() const {
    return m_state->notRegular ? std::string("not a regular file") : SystemErrorText(m_state->code);
}

void WriteStderr(std::string_view text) {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE) {
        return;
    }
    // A console shows UTF-16 whatever its own code page; a file or pipe gets the ANSI text.
    DWORD mode = 0;
    if (GetConsoleMode(err, &mode)) {
        const std::wstring wide = WideFromAnsi(text);
        DWORD written = 0;
        (void)WriteConsoleW(err, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    (void)WriteAll(err, text.data(), text.size());
}

void WriteReportLine(std::string_view line, Severity severity) {
    // A scheduled task's stderr goes nowhere: the event log is where an administrator looks.
    WriteStderr(line);
    ReportToEventLog(line, severity);
}

}  // namespace brimlet
