#include <windows.h>
// clang-format off
#include <aclapi.h>
// clang-format on

#include <memory>
#include <string>

#include "common/handle_win32.h"
#include "common/trust.h"

namespace brimlet {

namespace {

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};

// Rights that let a holder change what a file runs: its data, its rights or, for a directory,
// which files it holds.
constexpr ACCESS_MASK kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD |
                                  WRITE_DAC | WRITE_OWNER | DELETE | GENERIC_WRITE | GENERIC_ALL;

std::string Judge(PACL dacl, const std::string& what) {
    if (dacl == nullptr) {
        return what + " has no access list: everyone may write it";
    }
    struct Group {
        WELL_KNOWN_SID_TYPE type;
        const char* name;
    };
    static constexpr Group kGroups[] = {{WinWorldSid, "Everyone"},
                                        {WinBuiltinUsersSid, "Users"},
                                        {WinAuthenticatedUserSid, "Authenticated Users"}};
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) {
            return what + "'s access list cannot be read";
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
            continue;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChanging) == 0) {
            continue;
        }
        for (const Group& group : kGroups) {
            BYTE sid[SECURITY_MAX_SID_SIZE];
            DWORD size = sizeof sid;
            if (CreateWellKnownSid(group.type, nullptr, sid, &size) &&
                EqualSid(&allowed->SidStart, sid)) {
                return what + " may be written by " + group.name;
            }
        }
    }
    return {};
}

std::string JudgeObject(HANDLE handle, const std::string& what) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD rc = GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                     nullptr, &dacl, nullptr, &sd);
    const std::unique_ptr<void, LocalFreer> owner(sd);
    if (rc != ERROR_SUCCESS) {
        return what + " cannot be examined: " + SystemErrorText(rc);
    }
    return Judge(dacl, what);
}

std::string FinalPath(HANDLE handle) {
    char buf[MAX_PATH * 4];
    const DWORD n = GetFinalPathNameByHandleA(handle, buf, sizeof buf, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= sizeof buf) {
        return {};
    }
    std::string path(buf, n);
    // The long-path prefix is noise in a message: "\\?\C:\x" is C:\x, "\\?\UNC\s" is \\s.
    if (path.rfind("\\\\?\\UNC\\", 0) == 0) {
        path = "\\\\" + path.substr(8);
    } else if (path.rfind("\\\\?\\", 0) == 0) {
        path = path.substr(4);
    }
    return path;
}

}  // namespace

std::string DistrustOf(void* handle) {
    const std::string path = FinalPath(handle);
    const std::size_t slash = path.find_last_of('\\');
    if (slash == std::string::npos) {
        return "its directory cannot be told";
    }
    if (std::string why = JudgeObject(handle, path); !why.empty()) {
        return why;
    }
    const std::string dir = path.substr(0, slash);
    // READ_CONTROL alone: enough to read the access list, and no share mode is refused.
    const UniqueHandle dirHandle(CreateFileA(
        dir.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!dirHandle) {
        return dir + " cannot be examined: " + SystemErrorText(GetLastError());
    }
    return JudgeObject(dirHandle.get(), "its directory " + dir);
}

}  // namespace brimlet
