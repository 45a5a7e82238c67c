#include <windows.h>
// <windows.h> first: the Automation header needs its types.
#include <oleauto.h>

#include <memory>
#include <string>

#include "checksum/md5_library.h"
#include "common/code_page_win32.h"
#include "common/failure.h"
#include "common/handle_win32.h"
#include "common/trust.h"
#include "md5lib/velgnmd5_win32.h"

namespace brimlet {

namespace {

// A VARIANT owned here: initialised, and released with VariantClear when it goes.
class Variant {
  public:
    Variant() { VariantInit(&m_value); }
    ~Variant() { VariantClear(&m_value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* get() { return &m_value; }

  private:
    VARIANT m_value;
};

// `text` (ANSI) as a VT_BSTR argument.
void SetText(Variant& value, const std::string& text) {
    const std::wstring wide = WideFromAnsi(text);
    const BSTR bstr = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (bstr == nullptr) {
        throw Failure(kErrOutOfMemory, "Out of memory");
    }
    value.get()->vt = VT_BSTR;
    value.get()->bstrVal = bstr;
}

// An output read as text, as an Automation host reads a Variant into a String: nothing and
// null are empty text, anything else what VariantChangeType makes of it.
std::string Text(Variant& value) {
    const VARTYPE type = value.get()->vt;
    if (type == VT_EMPTY || type == VT_NULL) {
        return {};
    }
    Variant text;
    // VARIANT_ALPHABOOL: a Boolean reads "True" or "False", not "-1" or "0".
    const HRESULT hr = VariantChangeType(text.get(), value.get(), VARIANT_ALPHABOOL, VT_BSTR);
    if (hr == E_OUTOFMEMORY) {
        throw Failure(kErrOutOfMemory, "Out of memory");
    }
    if (FAILED(hr) || text.get()->vt != VT_BSTR) {
        throw Failure(kErrTypeMismatch, "Type mismatch");
    }
    // The program's text: best fit, "?" where the code page has none.
    const BSTR bstr = text.get()->bstrVal;
    return AnsiFromWide(std::wstring_view(bstr, SysStringLen(bstr)));
}

// The machine a PE image is built for, from its file headers (0 when they cannot be read).
WORD ImageMachine(HANDLE file) {
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    DWORD got = 0;
    LARGE_INTEGER at{};
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
        !ReadFile(file, &dos, sizeof dos, &got, nullptr) || got != sizeof dos ||
        dos.e_magic != IMAGE_DOS_SIGNATURE) {
        return 0;
    }
    at.QuadPart = dos.e_lfanew;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
        !ReadFile(file, &signature, sizeof signature, &got, nullptr) || got != sizeof signature ||
        signature != IMAGE_NT_SIGNATURE || !ReadFile(file, &header, sizeof header, &got, nullptr) ||
        got != sizeof header) {
        return 0;
    }
    return header.Machine;
}

}  // namespace

struct Md5Outputs::Values {
    Variant checksum;
    Variant spare;
    Variant error;
};

Md5Outputs::Md5Outputs() : m_values(std::make_unique<Values>()) {}
Md5Outputs::~Md5Outputs() = default;

std::string Md5Outputs::ChecksumText() const {
    return Text(m_values->checksum);
}

std::string Md5Outputs::ErrorText() const {
    return Text(m_values->error);
}

// The outputs are released with oleaut32's VariantClear: the library needs no third function.
void Md5Library::BindGetMD5() {
    if (m_getMd5 == nullptr) {
        m_getMd5 = Symbol("VelGetMD5");
    }
}

// The path (and the block size) by value: a copy of the VARIANT whose BSTR stays the caller's.
bool Md5Library::GetMD5(const std::string& filePath, Md5Outputs& outputs) {
    BindGetMD5();
    Variant path;
    SetText(path, filePath);
    Md5Outputs::Values& out = *outputs.m_values;
    return reinterpret_cast<VelGetMD5Fn>(m_getMd5)(*path.get(), out.checksum.get(), out.spare.get(),
                                                   out.error.get()) != 0;
}

bool Md5Library::GetMD5WBlock(const std::string& filePath, const std::string& blockSizeKB,
                              Md5Outputs& outputs) {
    if (m_getMd5WBlock == nullptr) {
        m_getMd5WBlock = Symbol("VelGetMD5WBlock");
    }
    Variant path;
    Variant size;
    SetText(path, filePath);
    SetText(size, blockSizeKB);
    Md5Outputs::Values& out = *outputs.m_values;
    return reinterpret_cast<VelGetMD5WBlockFn>(m_getMd5WBlock)(
               *path.get(), *size.get(), out.checksum.get(), out.spare.get(), out.error.get()) != 0;
}

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
    handle = LoadLibraryExW(WideFromAnsi(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (handle != nullptr) {
        return Candidate::Loaded;
    }
    // A site's older DLL may be a 32-bit build, which no 64-bit process can load: only its
    // headers tell that apart from a broken file, and the operator must be told.
    if (ImageMachine(file.get()) == IMAGE_FILE_MACHINE_I386) {
        why = path + " is a 32-bit DLL; this 64-bit program can load only a 64-bit " +
              std::string(kMd5LibraryFile);
    }
    return Candidate::Unloadable;
}

void* Md5Library::FindSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

}  // namespace brimlet
