#include <io.h>
#include <windows.h>

#include <cstdio>
#include <random>

#include "common/handle_win32.h"
#include "common/move_win32.h"
#include "common/path.h"
#include "decrypt/tool_files.h"

namespace brimlet::tools {

namespace {

// The CRT's _O_BINARY, whose header <fcntl.h> shares its name with the POSIX one that the
// include rule keeps out of Windows files.
constexpr int kBinaryMode = 0x8000;

ToolFault SystemFault(DWORD err, const std::string& path) {
    return ToolFault{path + ": " + SystemErrorText(err)};
}

}  // namespace

struct DocumentFile::Impl {
    std::string path;
    UniqueHandle file;
};

DocumentFile::DocumentFile(const std::string& path) : m_impl(std::make_unique<Impl>()) {
    m_impl->path = path;
    // A document being replaced by a run stays readable: the run renames over it.
    m_impl->file = UniqueHandle(CreateFileA(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_impl->file) {
        throw SystemFault(GetLastError(), path);
    }
}

DocumentFile::~DocumentFile() = default;

std::size_t DocumentFile::Read(char* buffer, std::size_t size) {
    const long long n = ReadSome(m_impl->file.get(), buffer, size);
    if (n < 0) {
        throw SystemFault(GetLastError(), m_impl->path);
    }
    return static_cast<std::size_t>(n);
}

struct ReplacingFile::Impl {
    std::string path;
    std::string temp;
    UniqueHandle file;

    void Remove() {
        (void)file.Close();
        if (!temp.empty()) {
            DeleteFileA(temp.c_str());
            temp.clear();
        }
    }
};

// No mkstemp: a random name beside the target, created only when it was not there. Without
// security attributes the file gets the access its directory hands to new files.
ReplacingFile::ReplacingFile(std::string path) : m_impl(std::make_unique<Impl>()) {
    Impl& f = *m_impl;
    f.path = std::move(path);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = DotNameBeside(f.path, "." + std::to_string(random()));
        f.file = UniqueHandle(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (f.file) {
            f.temp = std::move(temp);
            return;
        }
        if (const DWORD err = GetLastError(); err != ERROR_FILE_EXISTS) {
            throw SystemFault(err, f.path);
        }
    }
    throw SystemFault(ERROR_FILE_EXISTS, f.path);
}

ReplacingFile::~ReplacingFile() {
    m_impl->Remove();
}

void ReplacingFile::Write(std::string_view data) {
    if (!WriteAll(m_impl->file.get(), data.data(), data.size())) {
        throw SystemFault(GetLastError(), m_impl->path);
    }
}

void ReplacingFile::Commit() {
    Impl& f = *m_impl;
    if (!f.file.Close() || !MoveReplacing(f.temp, f.path)) {
        throw SystemFault(GetLastError(), f.path);
    }
    f.temp.clear();
}

void UseBinaryStandardOutput() {
    (void)_setmode(_fileno(stdout), kBinaryMode);
}

}  // namespace brimlet::tools
