#include "checksum/md5_library.h"

#include "common/failure.h"
#include "common/path.h"

namespace brimlet {

Md5Library::Md5Library(std::string exeDir, std::string binaryDir)
    : m_exeDir(std::move(exeDir)), m_binaryDir(std::move(binaryDir)) {}

Md5Library::~Md5Library() {
    if (m_handle != nullptr) {
        Unload(m_handle);
    }
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
        const std::string path = JoinPath(*dir, kMd5LibraryFile);
        std::string why;
        switch (LoadCandidate(path, m_handle, why)) {
            case Candidate::Absent:
                continue;
            case Candidate::Refused:
                m_refusal = std::string(kMd5LibraryFile) + " not loaded: " + why;
                throw missing;
            case Candidate::Unloadable:
                throw missing;
            case Candidate::Loaded:
                m_loadedFrom = path;
                return;
        }
    }
    throw missing;
}

void* Md5Library::Symbol(const char* name) {
    Load();
    void* sym = FindSymbol(m_handle, name);
    if (sym == nullptr) {
        throw Failure(kErrEntryPointNotFound,
                      std::string("Can't find DLL entry point ") + name + " in VelGnMD5");
    }
    return sym;
}

// Symbol hands back object pointers; both platforms let them convert to function pointers.
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
