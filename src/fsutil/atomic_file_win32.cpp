#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <random>

#include "common/failure.h"
#include "common/handle_win32.h"
#include "common/move_win32.h"
#include "common/path.h"
#include "common/system_failure.h"
#include "fsutil/atomic_file.h"

namespace brimlet {

namespace {

// The delete disposition: while set, the file goes when its handle closes, also when the
// process is terminated, the Windows counterpart of an unnamed file.
bool MarkForDeletion(HANDLE file, bool deleteIt) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = deleteIt ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

}  // namespace

struct AtomicFile::Handle {
    UniqueHandle file;
    bool deletesOnClose = false;
};

AtomicFile::AtomicFile(std::string path)
    : m_path(std::move(path)), m_file(std::make_unique<Handle>()) {
    const std::string prefix = DotNameBeside(m_path, ".");
    std::random_device random;
    for (int attempt = 0; attempt < 100 && !m_file->file; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", random() & 0xffffffu);
        std::string name = prefix + suffix;
        // Not shared: nobody else writes, reads or renames it while it is ours. Plain
        // attributes, since the rename carries them to the document (a hidden one would count
        // as missing for the presence test).
        m_file->file = UniqueHandle(CreateFileA(name.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (m_file->file) {
            m_tempPath = std::move(name);
        } else if (const DWORD code = GetLastError();
                   code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            throw SystemFailure(code, "create temporary file in " + DirectoryOf(m_path));
        }
    }
    if (!m_file->file) {
        throw SystemFailure(ERROR_FILE_EXISTS, "create temporary file in " + DirectoryOf(m_path));
    }
    if (!MarkForDeletion(m_file->file.get(), true)) {
        const DWORD code = GetLastError();
        m_file->file.Close();
        (void)DeleteFileA(m_tempPath.c_str());
        throw SystemFailure(code, "mark " + m_tempPath + " for deletion");
    }
    m_file->deletesOnClose = true;
}

AtomicFile::~AtomicFile() {
    if (!m_committed) {
        m_file->file.Close();
        if (!m_file->deletesOnClose) {
            (void)DeleteFileA(m_tempPath.c_str());
        }
    }
}

void AtomicFile::Write(std::string_view data) {
    if (!WriteAll(m_file->file.get(), data.data(), data.size())) {
        throw SystemFailure(GetLastError(), "write " + TempName());
    }
}

void AtomicFile::Commit() {
    if (!FlushFileBuffers(m_file->file.get())) {
        throw SystemFailure(GetLastError(), "flush " + TempName());
    }
    if (!MarkForDeletion(m_file->file.get(), false)) {
        throw SystemFailure(GetLastError(), "keep " + TempName());
    }
    m_file->deletesOnClose = false;
    if (!m_file->file.Close()) {
        throw SystemFailure(GetLastError(), "close " + TempName());
    }
    // Not ReplaceFile: it would keep the old document's security and attributes instead of
    // the new file's, and can fail half done with the old document moved aside.
    if (!MoveReplacing(m_tempPath, m_path)) {
        throw SystemFailure(GetLastError(), "rename " + m_tempPath + " to " + m_path);
    }
    m_committed = true;
}

}  // namespace brimlet
