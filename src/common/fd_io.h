#pragma once
// Reads and writes on a descriptor that a signal cannot cut short. Header-only, so that
// libVelGnMD5.so can use it without linking any library of ours.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

namespace brimlet {

// One read(2), repeated while a signal interrupts it.
inline ssize_t ReadSome(int fd, void* buffer, std::size_t size) {
    ssize_t n = 0;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

// One write(2), repeated while a signal interrupts it; a short write is the caller's to handle.
inline ssize_t WriteSome(int fd, std::string_view data) {
    ssize_t n = 0;
    do {
        n = ::write(fd, data.data(), data.size());
    } while (n < 0 && errno == EINTR);
    return n;
}

// Appends what fd holds until its end or until `limit` bytes are appended. False on a read
// error, with errno set and what came before the error left in `out`.
inline bool ReadUpTo(int fd, std::size_t limit, std::string& out) {
    char buffer[65536];
    std::size_t appended = 0;
    while (appended < limit) {
        const ssize_t n = ReadSome(fd, buffer, std::min(sizeof buffer, limit - appended));
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
        appended += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes all of `data`, going on after short writes. False on a write error, with errno set.
inline bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = WriteSome(fd, data);
        if (n < 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace brimlet
