#include <windows.h>
// <windows.h> first: the CNG header needs its types.
#include <bcrypt.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/cng_win32.h"
#include "common/handle_win32.h"
#include "md5lib/md5_file.h"

namespace velgnmd5 {

Outcome HashRegularFile(const std::string& path, std::size_t chunkSize) {
    // FILE_FLAG_BACKUP_SEMANTICS opens a directory too, so that it is named as one below.
    brimlet::UniqueHandle file(CreateFileA(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        return Fail("Cannot open " + path + ": " + brimlet::SystemErrorText(GetLastError()));
    }
    // The type first: a device (NUL, CON, a pipe) has no file information to ask for.
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        return Fail(path + " is not a regular file");
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) {
        return Fail("Cannot stat " + path + ": " + brimlet::SystemErrorText(GetLastError()));
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Fail(path + " is a directory");
    }

    brimlet::cng::Digest md5(BCRYPT_MD5_ALGORITHM);
    if (!md5.Ready()) {
        return Fail("MD5 is not available");
    }
    std::vector<unsigned char> buffer(chunkSize);
    Outcome o;
    for (;;) {
        const long long n = brimlet::ReadSome(file.get(), buffer.data(), buffer.size());
        if (n < 0) {
            return Fail("Cannot read " + path + ": " + brimlet::SystemErrorText(GetLastError()));
        }
        if (n == 0) {
            break;
        }
        if (!md5.Add(buffer.data(), static_cast<std::size_t>(n))) {
            return Fail("MD5 computation failed");
        }
        o.size += static_cast<std::uint64_t>(n);
    }
    const std::vector<unsigned char> digest = md5.Finish();
    if (digest.empty()) {
        return Fail("MD5 computation failed");
    }
    o.checksum = LowerHex(digest.data(), digest.size());
    o.ok = true;
    return o;
}

}  // namespace velgnmd5
