#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>

#include "checksum/md5_library.h"
#include "common/trust.h"
#include "common/unique_fd.h"

namespace brimlet {

void Md5Library::Unload(void* handle) {
    ::dlclose(handle);
}

std::string Md5Library::RealBinaryDir() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) {
        return {};
    }
    const std::string path(buf, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

Md5Library::Candidate Md5Library::LoadCandidate(const std::string& path, void*& handle,
                                                std::string& why) {
    // A symlink is followed: the file it leads to is the one judged and loaded. Non-blocking,
    // so a FIFO of that name is never waited on.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return Candidate::Absent;
    }
    why = DistrustOf(fd.get());
    if (!why.empty()) {
        return Candidate::Refused;
    }
    // The very file that was judged, whatever happens to the name meanwhile; RTLD_NOW so
    // that a library with unresolved dependencies fails here rather than at a call.
    const std::string byFd = "/proc/self/fd/" + std::to_string(fd.get());
    handle = ::dlopen(byFd.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle != nullptr ? Candidate::Loaded : Candidate::Unloadable;
}

void* Md5Library::FindSymbol(void* handle, const char* name) {
    return ::dlsym(handle, name);
}

}  // namespace brimlet
