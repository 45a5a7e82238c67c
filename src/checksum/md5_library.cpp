#include "checksum/md5_library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstddef>
#include <vector>

#include "common/failure.h"

namespace brimlet {

Md5Library::Md5Library(std::string exeDir) : m_exeDir(std::move(exeDir)) {}

Md5Library::~Md5Library() {
    if (m_handle != nullptr) {
        ::dlclose(m_handle);
    }
}

namespace {

// dlopen reads whatever it is given, and waits forever on a FIFO: only regular files are tried.
bool IsRegularFile(const std::string& path, bool& present) {
    struct stat st {};
    present = ::stat(path.c_str(), &st) == 0;
    return present && S_ISREG(st.st_mode);
}

void* OpenRegular(const std::string& path) {
    bool present = false;
    return IsRegularFile(path, present) ? ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
}

// The directories the loader searches for a bare name from this program (LD_LIBRARY_PATH, run
// path, the system's); the loader's cache is not among them.
std::vector<std::string> LoaderSearchDirs() {
    std::vector<std::string> dirs;
    void* self = ::dlopen(nullptr, RTLD_LAZY);
    if (self == nullptr) {
        return dirs;
    }
    Dl_serinfo size{};
    if (::dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0) {
        std::vector<std::max_align_t> buffer((size.dls_size + sizeof(std::max_align_t) - 1) /
                                             sizeof(std::max_align_t));
        auto* info = reinterpret_cast<Dl_serinfo*>(buffer.data());
        *info = size;
        if (::dlinfo(self, RTLD_DI_SERINFOSIZE, info) == 0 &&
            ::dlinfo(self, RTLD_DI_SERINFO, info) == 0) {
            for (unsigned int i = 0; i < info->dls_cnt; ++i) {
                dirs.emplace_back(info->dls_serpath[i].dls_name);
            }
        }
    }
    ::dlclose(self);
    return dirs;
}

// By bare name, as the loader would find it, unless a file of that name in one of its
// directories is not regular (the loader would hang on a FIFO there): then the first regular
// one in search order, by its path.
void* OpenByBareName(std::string& from) {
    const std::string name(kMd5LibraryFile);
    std::string firstRegular;
    bool special = false;
    for (const std::string& dir : LoaderSearchDirs()) {
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        bool present = false;
        if (IsRegularFile(candidate, present)) {
            if (firstRegular.empty()) {
                firstRegular = candidate;
            }
        } else if (present) {
            special = true;
        }
    }
    if (!special) {
        from = name;
        return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (firstRegular.empty()) {
        return nullptr;
    }
    from = firstRegular;
    return OpenRegular(firstRegular);
}

}  // namespace

void Md5Library::Load() {
    if (m_handle != nullptr) {
        return;
    }
    // The executable's own copy wins over one elsewhere on the library path; RTLD_NOW so that
    // a library with unresolved dependencies fails here rather than at a call.
    std::string from = m_exeDir + "/" + std::string(kMd5LibraryFile);
    void* handle = OpenRegular(from);
    if (handle == nullptr) {
        handle = OpenByBareName(from);
    }
    if (handle == nullptr) {
        throw Failure(kErrFileNotFound, std::string(kMd5LibraryMissing));
    }
    m_handle = handle;
    m_loadedFrom = std::move(from);
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
