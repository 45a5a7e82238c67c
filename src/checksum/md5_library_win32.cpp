#include <windows.h>

#include <string>

#include "checksum/md5_library.h"
#include "common/failure.h"
#include "common/handle_win32.h"
#include "common/trust.h"

namespace brimlet {

namespace {

std::wstring Wide(const std::string& text) {
    const int n =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

}  // namespace

Md5Library::~Md5Library() {
    if (m_handle != nullptr) {
        FreeLibrary(static_cast<HMODULE>(m_handle));
    }
}

std::string Md5Library::RealBinaryDir() {
    char buf[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) {
        return {};
    }
    const std::string path(buf, n);
    const std::size_t slash = path.find_last_of('\\');
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
        const std::string path = *dir + "\\" + std::string(kMd5LibraryFile);
        // Held open without write or delete sharing while it is judged and loaded, so the file
        // judged is the file loaded.
        const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ | READ_CONTROL,
                                            FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!file || GetFileType(file.get()) != FILE_TYPE_DISK ||
            !GetFileInformationByHandle(file.get(), &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        if (std::string why = DistrustOf(file.get()); !why.empty()) {
            m_refusal = std::string(kMd5LibraryFile) + " not loaded: " + why;
            throw missing;
        }
        // A full path and the altered search order: the DLL's own dependencies are looked up
        // beside it, never in the working directory.
        HMODULE handle = LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
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
    FARPROC sym = GetProcAddress(static_cast<HMODULE>(m_handle), name);
    if (sym == nullptr) {
        throw Failure(kErrEntryPointNotFound,
                      std::string("Can't find DLL entry point ") + name + " in VelGnMD5");
    }
    return reinterpret_cast<void*>(sym);
}

}  // namespace brimlet
