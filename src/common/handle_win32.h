#pragma once
// Move-only owners of a Win32 file HANDLE and a directory search, whole reads on a file and
// the system's error texts: the Windows side of unique_fd.h and fd_io.h. Header-only, so that
// VelGnMD5.dll can use it without linking any library of ours.
#include <windows.h>

#include <cstddef>
#include <string>
#include <utility>

namespace brimlet {

class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : m_h(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : m_h(std::exchange(other.m_h, INVALID_HANDLE_VALUE)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            m_h = std::exchange(other.m_h, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    HANDLE get() const { return m_h; }
    explicit operator bool() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    // Closes now; false with GetLastError() set when CloseHandle fails.
    bool Close() {
        const HANDLE h = std::exchange(m_h, INVALID_HANDLE_VALUE);
        return h == INVALID_HANDLE_VALUE || h == nullptr || CloseHandle(h) != 0;
    }

  private:
    void Reset() { (void)Close(); }
    HANDLE m_h = INVALID_HANDLE_VALUE;
};

// Owner of a FindFirstFileA search handle.
class FindHandle {
  public:
    explicit FindHandle(HANDLE h) : m_h(h) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() {
        if (m_h != INVALID_HANDLE_VALUE) {
            FindClose(m_h);
        }
    }
    HANDLE get() const { return m_h; }

  private:
    HANDLE m_h;
};

// One ReadFile of at most `size` bytes: the bytes read (0 at the end), or -1 with
// GetLastError() set.
inline long long ReadSome(HANDLE h, void* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!ReadFile(h, buffer, want, &got, nullptr)) {
        return -1;
    }
    return got;
}

// Writes all of `data`, going on after short writes. False with GetLastError() set.
inline bool WriteAll(HANDLE h, const char* data, std::size_t size) {
    while (size > 0) {
        DWORD done = 0;
        const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        if (!WriteFile(h, data, want, &done, nullptr)) {
            return false;
        }
        data += done;
        size -= done;
    }
    return true;
}

// The system's text for a Win32 error code, in the ANSI code page, without the line end.
inline std::string SystemErrorText(DWORD code) {
    char buf[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, buf, static_cast<DWORD>(sizeof buf), nullptr);
    while (n > 0 &&
           (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == ' ' || buf[n - 1] == '.')) {
        --n;
    }
    if (n == 0) {
        return "error " + std::to_string(code);
    }
    return std::string(buf, n);
}

}  // namespace brimlet
