#include "run/instance_guard.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace brimlet {

namespace {

// FNV-1a: stable across processes and builds, unlike std::hash.
std::uint64_t Fnv1a(std::string_view s) {
    std::uint64_t h = 1469598103934665603ULL;
    for (const char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

}  // namespace

std::string InstanceGuardName(const std::string& executablePath) {
    char buf[128];
    struct stat link {};
    struct stat dir {};
    const std::size_t slash = executablePath.rfind('/');
    const std::string name =
        slash == std::string::npos ? executablePath : executablePath.substr(slash + 1);
    const std::string dirPath = slash == std::string::npos ? std::string(".")
                                : slash == 0               ? std::string("/")
                                                           : executablePath.substr(0, slash);
    // The link itself (lstat), so a directory alias on the way to it changes nothing. Hard
    // links of one binary share an inode but serve other pairs or other directories: their
    // name and the directory they are in keep them apart.
    if (::lstat(executablePath.c_str(), &link) == 0 && ::stat(dirPath.c_str(), &dir) == 0) {
        std::snprintf(buf, sizeof buf, "brimlet-instance-%llx-%llx-%llx-%llx-%016llx",
                      static_cast<unsigned long long>(link.st_dev),
                      static_cast<unsigned long long>(link.st_ino),
                      static_cast<unsigned long long>(dir.st_dev),
                      static_cast<unsigned long long>(dir.st_ino),
                      static_cast<unsigned long long>(Fnv1a(name)));
    } else {
        // Nothing to take an identity from: the path string is the best key left.
        std::snprintf(buf, sizeof buf, "brimlet-instance-path-%016llx",
                      static_cast<unsigned long long>(Fnv1a(executablePath)));
    }
    return buf;
}

bool InstanceGuard::Acquire(const std::string& executablePath) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return true;
    }
    const std::string name = InstanceGuardName(executablePath);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    // Abstract namespace: a leading NUL byte, then the name (not NUL-terminated).
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
        return errno != EADDRINUSE;
    }
    m_socket = std::move(fd);
    return true;
}

}  // namespace brimlet
