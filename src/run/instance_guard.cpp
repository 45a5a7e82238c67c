#include "run/instance_guard.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace brimlet {

std::string InstanceGuardName(const std::string& executablePath) {
    // FNV-1a: stable across processes and builds, unlike std::hash.
    std::uint64_t h = 1469598103934665603ULL;
    for (const unsigned char c : executablePath) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "brimlet-instance-%016llx", static_cast<unsigned long long>(h));
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
