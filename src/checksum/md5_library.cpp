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
                if (!why.empty()) {
                    m_refusal = std::string(kMd5LibraryFile) + " not loaded: " + why;
                }
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

}  // namespace brimlet
