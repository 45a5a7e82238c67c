#include "checksum/md5_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>

#include "common/failure.h"
#include "common/trust.h"
#include "common/unique_fd.h"

namespace brimlet {

Md5Library::Md5Library(std::string exeDir, std::string binaryDir)
    : m_exeDir(std::move(exeDir)), m_binaryDir(std::move(binaryDir)) {}

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

// dlsym hands back object pointers; POSIX guarantees they convert to function pointers.
VelGetMD5Fn Md5Library::GetMD5() {
    if (m_getMd5 == nullptr) {
        if (m_clear == nullptr) {
            m_clear = reinterpret_cast<VelVariantClearFn>(Symbol("VelVariantClear"));
        }
        m_getMd5 = reinterpret_cast<VelGetMD5Fn>(Symbol("VelGetMD5"));
    }
    return m_getMd5;
}

VelGetMD5WBlockFn Md5Library::GetMD5WBlock() {
    if (m_getMd5WBlock == nullptr) {
        if (m_clear == nullptr) {
            m_clear = reinterpret_cast<VelVariantClearFn>(Symbol("VelVariantClear"));
        }
        m_getMd5WBlock = reinterpret_cast<VelGetMD5WBlockFn>(Symbol("VelGetMD5WBlock"));
    }
    return m_getMd5WBlock;
}

void Md5Library::Clear(VelVariant& value) const noexcept {
    if (value.type == VEL_VARIANT_EMPTY && value.text == nullptr) {
        return;
    }
    // Only a bound library can have written a text, so m_clear is set here.
    if (m_clear != nullptr) {
        m_clear(&value);
    }
}

std::string Md5Output::Text() const {
    if (m_value.type == VEL_VARIANT_EMPTY) {
        return {};
    }
    if (m_value.type != VEL_VARIANT_TEXT) {
        throw Failure(kErrTypeMismatch, "Type mismatch");
    }
    if (m_value.text == nullptr) {
        return {};
    }
    return std::string(m_value.text, m_value.length);
}

Md5Input::Md5Input(std::string_view text) : m_text(text) {
    m_value.type = VEL_VARIANT_TEXT;
    m_value.text = m_text.data();
    m_value.length = m_text.size();
}

}  // namespace brimlet
