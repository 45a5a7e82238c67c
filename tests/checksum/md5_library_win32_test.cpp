// The loader of VelGnMD5.dll on Windows: where it looks, the access-list rule, what it makes of
// a site's own DLL in the Automation shapes (tests/support/variant_md5) and of a 32-bit one.
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

std::string Install(const std::string& dir, const char* library = REAL_MD5_LIBRARY) {
    const std::string to = dir + "\\VelGnMD5.dll";
    std::filesystem::copy_file(library, to);
    return to;
}

int LoadFailure(Md5Library& lib) {
    try {
        lib.BindGetMD5();
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

// The outputs as a site's DLL may leave them, read as an Automation host reads a Variant into
// a String: nothing and null as empty text, a number or a Boolean as its text, and a value
// that has no text form as error 13.
TEST(Md5LibraryWin32, ASitesOwnDllIsCalledInTheAutomationShapes) {
    struct Case {
        const char* library;
        std::string answer;  // success or failure, checksumOut's text, errorOut's text
    } cases[] = {
        {VARIANT_MD5_MD5, "ok | 900150983cd24fb0d6963f7d28e17f72 | "},
        {VARIANT_MD5_BLOCKS, "ok | 900150983cd24fb0d6963f7d28e17f72 | whole files not supported"},
        {VARIANT_MD5_EMPTY, "failed || 1234"},
        {VARIANT_MD5_NULL, "failed || "},
        {VARIANT_MD5_NUMBER, "ok |-12345| True"},
        {VARIANT_MD5_ERROR, "13 Type mismatch"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.library);
        test::TempDir dir;
        Install(dir.path(), c.library);
        test::WriteFile(dir / "doc.xml", "abc");
        Md5Library lib(dir.path(), "");
        std::string answer;
        try {
            // As the checksum step calls them: the same outputs for both.
            Md5Outputs outputs;
            const bool ok = lib.GetMD5(dir / "doc.xml", outputs) ||
                            lib.GetMD5WBlock(dir / "doc.xml", "32", outputs);
            answer = std::string(ok ? "ok" : "failed") + " |" + outputs.ChecksumText() + "| " +
                     outputs.ErrorText();
        } catch (const Failure& f) {
            answer = std::to_string(f.number()) + " " + f.description();
        }
        EXPECT_EQ(answer, c.answer);
    }
}

// Error 53 as for any library that cannot be loaded, and the operator is told why.
TEST(Md5LibraryWin32, A32BitDllIsError53AndNamedAsSuch) {
    if (std::string(VARIANT_MD5_X86).empty()) {
        GTEST_SKIP() << "no 32-bit mingw-w64 compiler (i686-w64-mingw32-gcc) built the 32-bit DLL";
    }
    test::TempDir dir;
    const std::string dll = Install(dir.path(), VARIANT_MD5_X86);
    Md5Library lib(dir.path(), "");
    EXPECT_EQ(LoadFailure(lib), kErrFileNotFound);
    EXPECT_EQ(lib.Refusal(), "VelGnMD5.dll not loaded: " + dll +
                                 " is a 32-bit DLL; this 64-bit program can load only a 64-bit "
                                 "VelGnMD5.dll");
}

}  // namespace
}  // namespace brimlet
