#include "process/files_win32.h"

#include <windows.h>
// clang-format off
#include <aclapi.h>
// clang-format on

#include <algorithm>
#include <memory>
#include <vector>

#include "common/move_win32.h"
#include "common/trust.h"
#include "process/files.h"
#include "process/lock_handle.h"
#include "settings/settings.h"

namespace brimlet {

namespace {

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};

// Seconds between 1601 and 1970, in FILETIME's 100 ns units.
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;

std::vector<BYTE> TokenUserSid() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return {};
    }
    const UniqueHandle token(raw);
    DWORD size = 0;
    (void)GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return {};
    }
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const BYTE* begin = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(begin, begin + GetLengthSid(sid));
}

std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = SECURITY_MAX_SID_SIZE;
    if (!CreateWellKnownSid(type, nullptr, sid.data(), &size)) {
        return {};
    }
    sid.resize(size);
    return sid;
}

// The accounts a lock file is for: this one and Administrators. LocalSystem may be named too:
// it is the system itself, and Wine names it on every file, whatever list the file was made with.
struct LockFileAccounts {
    std::vector<BYTE> user = TokenUserSid();
    std::vector<BYTE> admins = WellKnownSid(WinBuiltinAdministratorsSid);
    std::vector<BYTE> system = WellKnownSid(WinLocalSystemSid);

    static bool Is(PSID sid, const std::vector<BYTE>& known) {
        return !known.empty() && EqualSid(sid, const_cast<BYTE*>(known.data()));
    }
    bool Owner(PSID sid) const { return Is(sid, user) || Is(sid, admins); }
    bool Allowed(PSID sid) const { return Owner(sid) || Is(sid, system); }
};

// Whether GetFileInformationByHandle shows a regular file.
bool RegularInfo(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
           (info.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// `flags`: FILE_FLAG_OPEN_REPARSE_POINT to look at a link itself rather than where it leads.
UniqueHandle OpenForAttributes(const std::string& path, DWORD flags = 0) {
    return UniqueHandle(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | flags, nullptr));
}

bool Missing(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

}  // namespace

void LockHandle::Close() noexcept {
    const HANDLE native = std::exchange(m_native, kNone);
    if (native != kNone) {
        CloseHandle(native);
    }
}

LockHandle OpenLockFile(const std::string& path) {
    const LockFileAccounts accounts;
    if (accounts.user.empty() || accounts.admins.empty()) {
        return LockHandle();
    }
    const DWORD aclSize = sizeof(ACL) + 2 * sizeof(ACCESS_ALLOWED_ACE) +
                          static_cast<DWORD>(accounts.user.size() + accounts.admins.size());
    std::vector<BYTE> aclBuffer(aclSize);
    auto* acl = reinterpret_cast<ACL*>(aclBuffer.data());
    SECURITY_DESCRIPTOR sd{};
    if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS,
                             const_cast<BYTE*>(accounts.user.data())) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS,
                             const_cast<BYTE*>(accounts.admins.data())) ||
        !InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE) ||
        // Protected: the directory's inheritable entries (Users, say) do not join the list.
        !SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return LockHandle();
    }
    SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
    // Shared, so that a second instance can open the file and find the lock taken.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return file == INVALID_HANDLE_VALUE ? LockHandle() : LockHandle(file);
}

LockHandle OpenInheritingLockFile(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return file == INVALID_HANDLE_VALUE ? LockHandle() : LockHandle(file);
}

bool IsRegularFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    return RegularInfo(file, info);
}

std::string ForeignLockFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!RegularInfo(file, info)) {
        return "not a regular file";
    }
    if (info.nNumberOfLinks != 1) {
        return "a file with " + std::to_string(info.nNumberOfLinks) + " names";
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD rc = GetSecurityInfo(file, SE_FILE_OBJECT,
                                     OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                     nullptr, &dacl, nullptr, &sd);
    const std::unique_ptr<void, LocalFreer> freeSd(sd);
    if (rc != ERROR_SUCCESS) {
        return "its access list cannot be read: " + SystemErrorText(rc);
    }
    const LockFileAccounts accounts;
    if (owner == nullptr || !accounts.Owner(owner)) {
        return "belongs to another account";
    }
    if (dacl == nullptr) {
        return "has no access list: every account may open it";
    }
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) {
            return "its access list cannot be read";
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
            continue;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (!accounts.Allowed(&allowed->SidStart)) {
            return "open to other accounts (its access list must name only this account and "
                   "Administrators)";
        }
    }
    return {};
}

DWORD TryLockFile(HANDLE file) {
    OVERLAPPED at{};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        return ERROR_SUCCESS;
    }
    const DWORD code = GetLastError();
    return code == ERROR_IO_PENDING ? ERROR_LOCK_VIOLATION : code;
}

bool EntryExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsPlainFile(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    // The link itself: a reparse point is not a plain file, wherever it leads.
    const UniqueHandle file = OpenForAttributes(path, FILE_FLAG_OPEN_REPARSE_POINT);
    BY_HANDLE_FILE_INFORMATION info{};
    return file && RegularInfo(file.get(), info);
}

std::optional<FileFacts> PlainFileFacts(const std::string& path) {
    const UniqueHandle file = OpenForAttributes(path);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !RegularInfo(file.get(), info)) {
        return std::nullopt;
    }
    const std::uint64_t ticks = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                info.ftLastWriteTime.dwLowDateTime;
    FileFacts facts;
    facts.bytes =
        static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    facts.modified = ticks > kUnixEpochTicks
                         ? static_cast<std::time_t>((ticks - kUnixEpochTicks) / 10000000)
                         : 0;
    return facts;
}

bool RemoveFileIfPresent(const std::string& path, const std::string& context) {
    if (DeleteFileA(path.c_str())) {
        return true;
    }
    const DWORD code = GetLastError();
    if (Missing(code)) {
        return false;
    }
    // A directory there is refused as access denied; like a plain file in the path's middle
    // (ERROR_INVALID_NAME under Wine) it holds no file.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if ((attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) ||
        code == ERROR_INVALID_NAME || code == ERROR_DIRECTORY) {
        return false;
    }
    throw SystemFailure(code, context);
}

void RemoveFileQuietly(const std::string& path) noexcept {
    (void)DeleteFileA(path.c_str());
}

bool HardLinkIfPresent(const std::string& target, const std::string& link,
                       const std::string& context) {
    if (CreateHardLinkA(link.c_str(), target.c_str(), nullptr)) {
        return true;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND) {
        throw SystemFailure(code, context);
    }
    return false;
}

std::optional<Failure> RenameOver(const std::string& from, const std::string& to,
                                  const std::string& context) noexcept {
    // Put back the way the document was published: past a reader's brief hold.
    if (MoveReplacing(from, to)) {
        return std::nullopt;
    }
    return SystemFailure(GetLastError(), context);
}

bool ClearReadOnly(const std::string& path, const std::string& context) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return false;
    }
    if (!SetFileAttributesA(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
        throw SystemFailure(GetLastError(), context);
    }
    return true;
}

void MarkReadOnly(const std::string& path) noexcept {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        (void)SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY);
    }
}

std::optional<Failure> RemoveFile(const std::string& path, const std::string& context) noexcept {
    if (DeleteFileA(path.c_str())) {
        return std::nullopt;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) {
        return std::nullopt;
    }
    return SystemFailure(code, context);
}

std::string WritableDirectory(const std::string& dir) {
    const DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return SystemErrorText(GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return "not a directory";
    }
    // The directory's access list asked for this account's right to add a file.
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD rc = GetNamedSecurityInfoA(
        dir.c_str(), SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        nullptr, nullptr, nullptr, nullptr, &sd);
    const std::unique_ptr<void, LocalFreer> freeSd(sd);
    if (rc != ERROR_SUCCESS) {
        return SystemErrorText(rc);
    }
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &raw)) {
        return SystemErrorText(GetLastError());
    }
    const UniqueHandle process(raw);
    HANDLE dup = nullptr;
    if (!DuplicateToken(process.get(), SecurityImpersonation, &dup)) {
        return SystemErrorText(GetLastError());
    }
    const UniqueHandle token(dup);
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                            FILE_ALL_ACCESS};
    DWORD wanted = FILE_ADD_FILE;
    MapGenericMask(&wanted, &mapping);
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    if (!AccessCheck(sd, token.get(), wanted, &mapping, &privileges, &privilegesSize, &granted,
                     &allowed)) {
        return SystemErrorText(GetLastError());
    }
    return allowed ? std::string() : SystemErrorText(ERROR_ACCESS_DENIED);
}

std::string MissingReason(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES
               ? std::string()
               : SystemErrorText(GetLastError());
}

std::string SettingsDistrust(const std::string& path) {
    const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ | READ_CONTROL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !RegularInfo(file.get(), info)) {
        return {};
    }
    return DistrustOf(file.get());
}

std::string ReadSettingsText(const std::string& path, std::string& why) {
    const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        why = SystemErrorText(GetLastError());
        return {};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!RegularInfo(file.get(), info)) {
        why = "not a regular file";
        return {};
    }
    std::string text;
    char buffer[65536];
    while (text.size() < kIniFileMaxBytes) {
        const long long n =
            ReadSome(file.get(), buffer, std::min(sizeof buffer, kIniFileMaxBytes - text.size()));
        if (n < 0) {
            why = SystemErrorText(GetLastError());
            break;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

}  // namespace brimlet
