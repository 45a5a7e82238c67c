// What the machinery does on Windows that has no Linux counterpart: the link's name without its
// extension, LockFileEx on files with an access list of their own, the file steps. (The kept
// predecessor as an NTFS hard link: publication_test.cpp's table, which runs here too.)
#include <windows.h>
// clang-format off
#include <aclapi.h>
// clang-format on
#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>

#include "process/files.h"
#include "process/identity.h"
#include "process/instance_guard.h"
#include "process/publication.h"
#include "support/temp_dir.h"

namespace brimlet {
namespace {

std::string In(const test::TempDir& d, const std::string& name) {
    return d.path() + "\\" + name;
}

TEST(IdentityWin32, TheLinkIsTheFileNameWithoutItsExtension) {
    struct Case {
        const char* given;
        const char* dir;
        const char* name;
    };
    for (const Case& c : {Case{"C:\\pairs\\pub_KA_WIN64\\pub_KA_WIN64.exe",
                               "C:\\pairs\\pub_KA_WIN64", "pub_KA_WIN64"},
                          Case{"C:/pairs/pub_KA_WIN64.exe", "C:\\pairs", "pub_KA_WIN64"},
                          Case{"C:\\p\\pub_KA_WIN.64.exe", "C:\\p", "pub_KA_WIN.64"},
                          Case{"C:\\p\\pub_KA_WIN64", "C:\\p", "pub_KA_WIN64"}}) {
        const ExecutableIdentity id = IdentityOfPath(c.given, "");
        EXPECT_EQ(id.dir, c.dir) << c.given;
        EXPECT_EQ(id.name, c.name) << c.given;
    }
    const ExecutableIdentity self = RunningExecutable("ignored", "");
    EXPECT_EQ(self.name, "process_tests");
    EXPECT_EQ(self.path, self.dir + "\\process_tests.exe");
}

// Whether the file's access list allows this account and nobody but Administrators and
// LocalSystem. (Wine derives the list from the file's mode, so it cannot show the list the file
// was made with, nor its protection from inheritance.)
bool OnlyAccountAndAdministrators(const std::string& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS) {
        ADD_FAILURE() << "no access list for " << path;
        return false;
    }
    HANDLE token = nullptr;
    BYTE user[256];
    DWORD size = sizeof user;
    bool ok = dacl != nullptr && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
              GetTokenInformation(token, TokenUser, user, size, &size);
    CloseHandle(token);
    const PSID me = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    bool mine = false;
    for (DWORD i = 0; ok && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ok = GetAce(dacl, i, &ace) &&
             static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE;
        const PSID sid = ok ? &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart : nullptr;
        mine = mine || (ok && EqualSid(sid, me));
        ok = ok && (EqualSid(sid, me) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
                    IsWellKnownSid(sid, WinLocalSystemSid));
    }
    LocalFree(sd);
    return ok && mine;
}

// Gives Everyone full access to `path`, as a squatter's file would.
void OpenToEveryone(const std::string& path) {
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof everyone;
    ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size));
    EXPLICIT_ACCESS_A access{};
    access.grfAccessPermissions = GENERIC_ALL;
    access.grfAccessMode = GRANT_ACCESS;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.ptstrName = reinterpret_cast<LPSTR>(everyone);
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclA(1, &access, nullptr, &acl), ERROR_SUCCESS);
    std::string name = path;
    EXPECT_EQ(SetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, acl, nullptr),
              ERROR_SUCCESS);
    LocalFree(acl);
}

TEST(LockFilesWin32, OneHolderPerLinkOnAFileInTheLogFolder) {
    test::TempDir d;
    const std::string exe = In(d, "pub_A_B.exe");
    {
        InstanceGuard first;
        ASSERT_EQ(first.Acquire(exe), InstanceGuard::State::Held) << first.Refusal();
        InstanceGuard second;
        EXPECT_EQ(second.Acquire(exe), InstanceGuard::State::HeldElsewhere);
        InstanceGuard other;
        EXPECT_EQ(other.Acquire(In(d, "pub_A_C.exe")), InstanceGuard::State::Held);
    }
    InstanceGuard after;
    EXPECT_EQ(after.Acquire(exe), InstanceGuard::State::Held);
    EXPECT_TRUE(IsPlainFile(In(d, "Log\\.pub_A_B.lock")));
    EXPECT_FALSE(EntryExists(In(d, ".pub_A_B.exe.lock")));

    // Another account's file there (an Administrator's manual run) carries the folder's list
    // and locks out nobody.
    const std::string shared = In(d, "pub_A_D.exe");
    test::WriteFile(InstanceLockPath(shared), "");
    OpenToEveryone(InstanceLockPath(shared));
    InstanceGuard taken;
    EXPECT_EQ(taken.Acquire(shared), InstanceGuard::State::Held) << taken.Refusal();

    const std::string blocked = In(d, "pub_A_E.exe");
    ASSERT_TRUE(CreateDirectoryA(InstanceLockPath(blocked).c_str(), nullptr));
    InstanceGuard refused;
    EXPECT_EQ(refused.Acquire(blocked), InstanceGuard::State::Refused);
}

TEST(LockFilesWin32, TheDocumentsLockIsWaitedForAndNeedsItsDirectory) {
    test::TempDir d;
    const std::string doc = In(d, "Brimlet_A_B.xml");
    DocumentLock first;
    ASSERT_EQ(first.Acquire(doc, std::chrono::milliseconds(0), nullptr),
              DocumentLock::Result::Acquired);
    DocumentLock second;
    EXPECT_EQ(second.Acquire(doc, std::chrono::milliseconds(120), nullptr),
              DocumentLock::Result::TimedOut);
    EXPECT_EQ(second.Acquire(doc, std::chrono::seconds(5), [] { return true; }),
              DocumentLock::Result::Stopped);
    first.Release();
    EXPECT_EQ(second.Acquire(doc, std::chrono::milliseconds(0), nullptr),
              DocumentLock::Result::Acquired);
    EXPECT_TRUE(OnlyAccountAndAdministrators(DocumentLock::PathFor(doc)));
    DocumentLock none;
    EXPECT_EQ(
        none.Acquire(In(d, "missing\\Brimlet_A_B.xml"), std::chrono::milliseconds(0), nullptr),
        DocumentLock::Result::NothingToGuard);
}

// The file steps the publisher's tests show on Linux, which cannot run here.
TEST(FilesWin32, NoDocumentIsNoFailureAndADirectoryIsNoDocument) {
    test::TempDir d;
    const std::string doc = In(d, "Brimlet_A_B.xml");
    EXPECT_FALSE(RemoveFileIfPresent(doc, "delete"));
    EXPECT_FALSE(RemoveFileIfPresent(In(d, "missing\\Brimlet_A_B.xml"), "delete"));
    EXPECT_FALSE(HardLinkIfPresent(doc, In(d, "kept"), "keep"));
    EXPECT_FALSE(PlainFileFacts(doc));
    test::WriteFile(doc, "12345");
    const std::optional<FileFacts> facts = PlainFileFacts(doc);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->bytes, 5);
    EXPECT_NEAR(static_cast<double>(facts->modified), static_cast<double>(std::time(nullptr)), 60);
    EXPECT_TRUE(IsPlainFile(doc));
    EXPECT_TRUE(RemoveFileIfPresent(doc, "delete"));
    EXPECT_FALSE(EntryExists(doc));
    ASSERT_TRUE(CreateDirectoryA(doc.c_str(), nullptr));
    EXPECT_FALSE(IsPlainFile(doc));
    EXPECT_FALSE(RemoveFileIfPresent(doc, "delete"));
    EXPECT_TRUE(EntryExists(doc));
    EXPECT_EQ(WritableDirectory(d.path()), "");
    EXPECT_EQ(WritableDirectory(doc), "");
    EXPECT_NE(WritableDirectory(In(d, "missing")), "");
}

}  // namespace
}  // namespace brimlet
