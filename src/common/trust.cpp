#include "common/trust.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/path.h"

namespace brimlet {

namespace {

std::string Octal(mode_t mode) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
    return buf;
}

std::string Judge(const struct stat& st, const std::string& what) {
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
        return what + " belongs to uid " + std::to_string(st.st_uid) +
               ", neither root nor this account";
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return what + " is writable by group or others (mode " + Octal(st.st_mode) + ")";
    }
    return {};
}

}  // namespace

std::string RealPathOf(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char buf[4096];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    return n > 0 && static_cast<std::size_t>(n) < sizeof buf ? std::string(buf, n) : std::string();
}

std::string DistrustOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return std::string("cannot be examined: ") + std::strerror(errno);
    }
    const std::string path = RealPathOf(fd);
    if (path.empty() || path.front() != '/') {
        return "its directory cannot be told";
    }
    if (std::string why = Judge(st, path); !why.empty()) {
        return why;
    }
    const std::string dir = DirectoryOf(path);
    struct stat dirSt {};
    if (::stat(dir.c_str(), &dirSt) != 0) {
        return dir + " cannot be examined: " + std::strerror(errno);
    }
    return Judge(dirSt, "its directory " + dir);
}

}  // namespace brimlet
