#include <windows.h>

#include <string>

#include "checksum/md5_library.h"
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

void Md5Library::Unload(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
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

Md5Library::Candidate Md5Library::LoadCandidate(const std::string& path, void*& handle,
                                                std::string& why) {
    // Held open without write or delete sharing while it is judged and loaded, so the file
    // judged is the file loaded.
    const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Candidate::Absent;
    }
    why = DistrustOf(file.get());
    if (!why.empty()) {
        return Candidate::Refused;
    }
    // A full path and the altered search order: the DLL's own dependencies are looked up
    // beside it, never in the working directory.
    handle = LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return handle != nullptr ? Candidate::Loaded : Candidate::Unloadable;
}

void* Md5Library::FindSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

}  // namespace brimlet
