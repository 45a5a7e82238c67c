#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>

#include "common/failure.h"
#include "common/handle_win32.h"
#include "common/move_win32.h"
#include "common/path.h"
#include "common/system_failure.h"
#include "metrics/metrics_file.h"
#include "metrics/status.h"

namespace brimlet::metrics {

namespace {

std::string WithoutTrailingSeparators(std::string path) {
    // "C:\" keeps its separator: "C:" alone is the drive's current directory.
    while (path.size() > 1 && IsPathSeparator(path.back()) &&
           !(path.size() == 3 && path[1] == ':')) {
        path.pop_back();
    }
    return path;
}

// A directory itself, not a link or junction to one, as on Linux.
void CheckDirectory(const std::string& dir, const std::string& context) {
    const DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw SystemFailure(GetLastError(), context);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        throw SystemFailure(ERROR_DIRECTORY, context);
    }
}

// The text of the regular file at `path`, at most kMetricsFileMaxBytes of it; "" for anything
// else. Opened as itself, never through a link, and a device there is not read.
std::string ReadRegular(const std::string& path) {
    const UniqueHandle file(CreateFileA(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return {};
    }
    // A read error keeps what came before it, as the end of the file would.
    std::string text;
    char buffer[8192];
    while (text.size() < kMetricsFileMaxBytes) {
        const long long n = ReadSome(file.get(), buffer,
                                     std::min(sizeof buffer, kMetricsFileMaxBytes - text.size()));
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// The temporary file, closed and removed unless it was renamed.
struct TempFile {
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        handle.Close();
        if (!path.empty()) {
            (void)DeleteFileA(path.c_str());
        }
    }
    UniqueHandle handle;
    std::string path;
};

}  // namespace

void ReplaceMetricsFile(const std::string& directory, const RunFigures& run) {
    const std::string dir = WithoutTrailingSeparators(directory);
    CheckDirectory(dir, "open " + dir);
    const std::string name = MetricsFileName(run.link);
    const std::string path = JoinPath(dir, name);
    const std::string text = RenderMetrics(run, ReadCarriedOver(ReadRegular(path), run));

    // Not ending in ".prom", so the collector never reads a half-written file. The file gets
    // the security a new file inherits from the directory, which the collector may read.
    std::random_device random;
    TempFile temp;
    for (int attempt = 0; attempt < 100 && !temp.handle; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", random() & 0xffffffu);
        const std::string tempPath = JoinPath(dir, "." + name + "." + suffix);
        temp.handle = UniqueHandle(CreateFileA(tempPath.c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (temp.handle) {
            temp.path = tempPath;
        } else if (const DWORD code = GetLastError();
                   code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            throw SystemFailure(code, "create " + tempPath);
        }
    }
    if (!temp.handle) {
        throw SystemFailure(ERROR_FILE_EXISTS, "create temporary file in " + dir);
    }
    if (!WriteAll(temp.handle.get(), text.data(), text.size())) {
        throw SystemFailure(GetLastError(), "write " + temp.path);
    }
    if (!FlushFileBuffers(temp.handle.get())) {
        throw SystemFailure(GetLastError(), "flush " + temp.path);
    }
    if (!temp.handle.Close()) {
        throw SystemFailure(GetLastError(), "close " + temp.path);
    }
    if (!MoveReplacing(temp.path, path)) {
        throw SystemFailure(GetLastError(), "rename " + temp.path + " to " + name + " in " + dir);
    }
    temp.path.clear();
}

std::vector<PairStatus> ReadStatusDir(const std::string& directory) {
    CheckDirectory(directory, directory);
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry{};
    const FindHandle find(FindFirstFileA(JoinPath(directory, "brimlet_*.prom").c_str(), &entry));
    if (find.get() == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_NO_MORE_FILES) {
            throw SystemFailure(code, directory);
        }
    } else {
        // The pattern also matches short names and longer extensions: the name decides.
        do {
            if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                           FILE_ATTRIBUTE_DEVICE)) == 0 &&
                IsMetricsFileName(entry.cFileName)) {
                names.emplace_back(entry.cFileName);
            }
        } while (FindNextFileA(find.get(), &entry));
    }
    std::sort(names.begin(), names.end());
    std::vector<PairStatus> pairs;
    for (const std::string& name : names) {
        for (PairStatus& pair : ParsePairs(ReadRegular(JoinPath(directory, name)))) {
            pairs.push_back(std::move(pair));
        }
    }
    return pairs;
}

}  // namespace brimlet::metrics
