#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <memory>
#include <string>

#include "checksum/md5_library.h"
#include "common/failure.h"
#include "common/trust.h"
#include "common/unique_fd.h"
#include "md5lib/velgnmd5.h"

namespace brimlet {

// Tagged values, released through the library that wrote them.
struct Md5Outputs::Values {
    VelVariant checksum = VEL_VARIANT_INIT;
    VelVariant spare = VEL_VARIANT_INIT;
    VelVariant error = VEL_VARIANT_INIT;
    // Set by the first call, before the library can have written anything here.
    VelVariantClearFn clear = nullptr;

    Values() = default;
    Values(const Values&) = delete;
    Values& operator=(const Values&) = delete;
    ~Values() {
        if (clear != nullptr) {
            clear(&checksum);
            clear(&spare);
            clear(&error);
        }
    }
};

namespace {

std::string Text(const VelVariant& value) {
    if (value.type == VEL_VARIANT_EMPTY) {
        return {};
    }
    if (value.type != VEL_VARIANT_TEXT) {
        throw Failure(kErrTypeMismatch, "Type mismatch");
    }
    if (value.text == nullptr) {
        return {};
    }
    return std::string(value.text, value.length);
}

// An input over a copy of `text` that the caller keeps for the call.
VelVariant Input(std::string& text) {
    return VelVariant{VEL_VARIANT_TEXT, text.data(), text.size()};
}

}  // namespace

Md5Outputs::Md5Outputs() : m_values(std::make_unique<Values>()) {}
Md5Outputs::~Md5Outputs() = default;

std::string Md5Outputs::ChecksumText() const {
    return Text(m_values->checksum);
}

std::string Md5Outputs::ErrorText() const {
    return Text(m_values->error);
}

// The functions are bound after VelVariantClear: without it no output could be released.
// Symbol hands back object pointers; POSIX lets them convert to function pointers.
void Md5Library::BindGetMD5() {
    if (m_clear == nullptr) {
        m_clear = Symbol("VelVariantClear");
    }
    if (m_getMd5 == nullptr) {
        m_getMd5 = Symbol("VelGetMD5");
    }
}

bool Md5Library::GetMD5(const std::string& filePath, Md5Outputs& outputs) {
    BindGetMD5();
    Md5Outputs::Values& out = *outputs.m_values;
    out.clear = reinterpret_cast<VelVariantClearFn>(m_clear);
    std::string path = filePath;
    const VelVariant pathIn = Input(path);
    return reinterpret_cast<VelGetMD5Fn>(m_getMd5)(&pathIn, &out.checksum, &out.spare,
                                                   &out.error) != 0;
}

bool Md5Library::GetMD5WBlock(const std::string& filePath, const std::string& blockSizeKB,
                              Md5Outputs& outputs) {
    if (m_clear == nullptr) {
        m_clear = Symbol("VelVariantClear");
    }
    if (m_getMd5WBlock == nullptr) {
        m_getMd5WBlock = Symbol("VelGetMD5WBlock");
    }
    Md5Outputs::Values& out = *outputs.m_values;
    out.clear = reinterpret_cast<VelVariantClearFn>(m_clear);
    std::string path = filePath;
    std::string size = blockSizeKB;
    const VelVariant pathIn = Input(path);
    const VelVariant sizeIn = Input(size);
    return reinterpret_cast<VelGetMD5WBlockFn>(m_getMd5WBlock)(&pathIn, &sizeIn, &out.checksum,
                                                               &out.spare, &out.error) != 0;
}

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
