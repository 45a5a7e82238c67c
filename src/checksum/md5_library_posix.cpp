#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>

#include "checksum/md5_library.h"
#include "common/failure.h"
#include "common/trust.h"
#include "common/unique_fd.h"

namespace brimlet {

Md5Library::~Md5Library() {
    if (m_handle != nullptr) {
        ::dlclose(m_handle);
    }
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

void Md5Library::Load() {
    if (m_handle != nullptr) {
        return;
    }
    const Failure missing(kErrFileNotFound, std::string(kMd5LibraryMissing));
    for (const std::string* dir : {&m_exeDir, &m_binaryDir}) {
        if (dir->empty() || (dir == &m_binaryDir && *dir == m_exeDir)) {
            continue;
        }
        const std::string path = *dir + "/" + std::string(kMd5LibraryFile);
        // A symlink is followed: the file it leads to is the one judged and loaded. Non-blocking,
        // so a FIFO of that name is never waited on.
        const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        if (std::string why = DistrustOf(fd.get()); !why.empty()) {
            m_refusal = std::string(kMd5LibraryFile) + " not loaded: " + why;
            throw missing;
        }
        // The very file that was judged, whatever happens to the name meanwhile; RTLD_NOW so
        // that a library with unresolved dependencies fails here rather than at a call.
        const std::string byFd = "/proc/self/fd/" + std::to_string(fd.get());
        void* handle = ::dlopen(byFd.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            throw missing;
        }
        m_handle = handle;
        m_loadedFrom = path;
        return;
    }
    throw missing;
}

void* Md5Library::Symbol(const char* name) {
    Load();
    void* sym = ::dlsym(m_handle, name);
    if (sym == nullptr) {
        throw Failure(kErrEntryPointNotFound,
                      std::string("Can't find DLL entry point ") + name + " in VelGnMD5");
    }
    return sym;
}

}  // namespace brimlet
