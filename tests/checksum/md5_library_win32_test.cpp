// The loader of VelGnMD5.dll on Windows: where it looks, and the access-list rule.
#include <windows.h>
// clang-format off
#include <aclapi.h>
// clang-format on

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "checksum/md5_library.h"
#include "common/failure.h"
#include "support/temp_dir.h"

namespace brimlet {
namespace {

std::string Install(const std::string& dir) {
    const std::string to = dir + "\\VelGnMD5.dll";
    std::filesystem::copy_file(REAL_MD5_LIBRARY, to);
    return to;
}

int LoadFailure(Md5Library& lib) {
    try {
        lib.GetMD5();
        return 0;
    } catch (const Failure& f) {
        return f.number();
    }
}

TEST(Md5LibraryWin32, TheExecutablesDirectoryFirstThenTheBinarysNeverTheWorkingDirectory) {
    test::TempDir link, binary, cwd;
    const std::string before = std::filesystem::current_path().string();
    std::filesystem::current_path(cwd.path());
    Install(cwd.path());
    {
        Md5Library lib(link.path(), binary.path());
        EXPECT_EQ(LoadFailure(lib), kErrFileNotFound) << "loaded from the working directory";
    }
    const std::string inBinary = Install(binary.path());
    {
        Md5Library lib(link.path(), binary.path());
        EXPECT_EQ(LoadFailure(lib), 0);
        EXPECT_EQ(lib.LoadedFrom(), inBinary);
    }
    const std::string inLink = Install(link.path());
    {
        Md5Library lib(link.path(), binary.path());
        EXPECT_EQ(LoadFailure(lib), 0);
        EXPECT_EQ(lib.LoadedFrom(), inLink);
    }
    std::filesystem::current_path(before);
}

// Grants Everyone full control of `path`; false when the access list cannot be set.
bool GrantEveryone(const std::string& path) {
    EXPLICIT_ACCESSA access{};
    access.grfAccessPermissions = GENERIC_ALL;
    access.grfAccessMode = GRANT_ACCESS;
    access.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    access.Trustee.ptstrName = const_cast<char*>("Everyone");
    PACL acl = nullptr;
    if (SetEntriesInAclA(1, &access, nullptr, &acl) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD rc =
        SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr);
    LocalFree(acl);
    return rc == ERROR_SUCCESS;
}

TEST(Md5LibraryWin32, ALibraryOrDirectoryEveryoneMayWriteIsNotLoaded) {
    for (const bool directory : {false, true}) {
        test::TempDir dir;
        const std::string dll = Install(dir.path());
        if (!GrantEveryone(directory ? dir.path() : dll)) {
            GTEST_SKIP() << "the access list cannot be set here";
        }
        Md5Library lib(dir.path(), "");
        EXPECT_EQ(LoadFailure(lib), kErrFileNotFound) << (directory ? "directory" : "file");
        EXPECT_NE(lib.Refusal().find("may be written by Everyone"), std::string::npos)
            << lib.Refusal();
    }
}

}  // namespace
}  // namespace brimlet
