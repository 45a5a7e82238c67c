// The loader of libVelGnMD5.so: where it looks, what it refuses, what it binds. This
// executable's run path holds a stand-in named libVelGnMD5.so that must never load.
#include "checksum/md5_library.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/failure.h"
#include "support/md5_stand_in.h"
#include "support/temp_dir.h"

namespace brimlet::test {
namespace {

constexpr const char* kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";

// What the library's whole-file function makes of `file`, or the failure's number and text.
std::string Call(Md5Library& lib, const std::string& file) {
    try {
        Md5Outputs outputs;
        lib.GetMD5(file, outputs);
        return outputs.ChecksumText();
    } catch (const Failure& f) {
        return std::to_string(f.number()) + " " + f.description();
    }
}

const std::string kNotFound = "53 File not found: VelGnMD5";

struct Search {
    TempDir linkDir;
    TempDir binaryDir;
    Search() { WriteFile(linkDir / "doc.xml", "abc"); }
    std::string Run(Md5Library& lib) {
        ::alarm(20);  // a hang ends the test instead of the suite
        std::string sum = Call(lib, linkDir / "doc.xml");
        ::alarm(0);
        return sum;
    }
};

TEST(Md5Library, TheLinkDirectoryFirstThenTheBinarysNeverTheLoadersSearch) {
    {
        SCOPED_TRACE("in neither directory: the run path's stand-in is not loaded");
        Search s;
        Md5Library lib(s.linkDir.path(), s.binaryDir.path());
        EXPECT_EQ(s.Run(lib), kNotFound);
        EXPECT_EQ(lib.LoadedFrom(), "");
    }
    {
        SCOPED_TRACE("beside the real binary only");
        Search s;
        InstallMd5Library(REAL_MD5_LIBRARY, s.binaryDir.path());
        Md5Library lib(s.linkDir.path(), s.binaryDir.path());
        EXPECT_EQ(s.Run(lib), kAbcMd5);
        EXPECT_EQ(lib.LoadedFrom(), s.binaryDir / "libVelGnMD5.so");
    }
    {
        SCOPED_TRACE("in both: the link's directory wins");
        Search s;
        InstallMd5Library(REAL_MD5_LIBRARY, s.linkDir.path());
        InstallMd5Library(FAKE_MD5_PATH, s.binaryDir.path());
        Md5Library lib(s.linkDir.path(), s.binaryDir.path());
        EXPECT_EQ(s.Run(lib), kAbcMd5);
        EXPECT_EQ(lib.LoadedFrom(), s.linkDir / "libVelGnMD5.so");
    }
    {
        // dlopen would wait forever for a writer on a FIFO; it is passed over like a missing file.
        SCOPED_TRACE("a FIFO in the link's directory");
        Search s;
        ASSERT_EQ(::mkfifo((s.linkDir / "libVelGnMD5.so").c_str(), 0644), 0);
        InstallMd5Library(REAL_MD5_LIBRARY, s.binaryDir.path());
        Md5Library lib(s.linkDir.path(), s.binaryDir.path());
        EXPECT_EQ(s.Run(lib), kAbcMd5);
        EXPECT_EQ(lib.LoadedFrom(), s.binaryDir / "libVelGnMD5.so");
    }
    {
        SCOPED_TRACE("a file of that name that is no library");
        Search s;
        WriteFile(s.linkDir / "libVelGnMD5.so", "not an ELF file");
        Md5Library lib(s.linkDir.path(), s.binaryDir.path());
        EXPECT_EQ(s.Run(lib), kNotFound);
        EXPECT_EQ(lib.LoadedFrom(), "");
    }
}

// The library found first is judged by the trust rule (tests/common has its cases) through a
// symlink by the file it leads to, and a refusal ends the search: a trusted copy beside the
// binary does not make up for it.
TEST(Md5Library, ALibraryOthersCouldWriteIsNotLoaded) {
    Search s;
    const std::string planted = s.binaryDir / "planted";
    ASSERT_EQ(::mkdir(planted.c_str(), 0755), 0);
    InstallMd5Library(REAL_MD5_LIBRARY, planted);
    ASSERT_EQ(
        ::symlink((planted + "/libVelGnMD5.so").c_str(), (s.linkDir / "libVelGnMD5.so").c_str()),
        0);
    ASSERT_EQ(::chmod(planted.c_str(), 0777), 0);
    InstallMd5Library(REAL_MD5_LIBRARY, s.binaryDir.path());
    Md5Library lib(s.linkDir.path(), s.binaryDir.path());
    EXPECT_EQ(s.Run(lib), kNotFound);
    EXPECT_EQ(lib.LoadedFrom(), "");
    EXPECT_EQ(lib.Refusal(), "libVelGnMD5.so not loaded: its directory " + planted +
                                 " is writable by group or others (mode 0777)");
    ::chmod(planted.c_str(), 0755);
}

// Bound for the object's life: the file may go, the functions stay.
TEST(Md5Library, TheFunctionsStayBoundWhenTheFileGoes) {
    Search s;
    InstallMd5Library(REAL_MD5_LIBRARY, s.linkDir.path());
    Md5Library lib(s.linkDir.path(), s.binaryDir.path());
    EXPECT_EQ(s.Run(lib), kAbcMd5);
    ASSERT_EQ(::unlink((s.linkDir / "libVelGnMD5.so").c_str()), 0);
    WriteFile(s.linkDir / "doc.xml", "changed");
    EXPECT_EQ(s.Run(lib), Md5Hex("changed"));
    EXPECT_EQ(lib.LoadedFrom(), s.linkDir / "libVelGnMD5.so");
}

// Each function is looked up at its first use; VelVariantClear with either, since no output
// could be released without it.
TEST(Md5Library, AMissingFunctionIsError453NamingIt) {
    struct Case {
        const char* library;
        bool block;
        const char* function;
    } cases[] = {{FAKE_MD5_NOWHOLE, false, "VelGetMD5"},
                 {FAKE_MD5_NOBLOCK, true, "VelGetMD5WBlock"},
                 {FAKE_MD5_NOCLEAR, false, "VelVariantClear"},
                 {FAKE_MD5_NOCLEAR, true, "VelVariantClear"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.function) + (c.block ? " by the block call" : ""));
        TempDir exeDir;
        InstallMd5Library(c.library, exeDir.path());
        Md5Library lib(exeDir.path(), "");
        try {
            Md5Outputs outputs;
            (void)(c.block ? lib.GetMD5WBlock("", "32", outputs) : lib.GetMD5("", outputs));
            ADD_FAILURE() << "bound";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), kErrEntryPointNotFound);
            EXPECT_EQ(f.description(),
                      std::string("Can't find DLL entry point ") + c.function + " in VelGnMD5");
        }
    }
}

TEST(Md5Outputs, AnythingButTextIsATypeMismatch) {
    Search s;
    InstallMd5Library(FAKE_MD5_BADTYPE, s.linkDir.path());
    Md5Library lib(s.linkDir.path(), "");
    EXPECT_EQ(s.Run(lib), "13 Type mismatch");
}

}  // namespace
}  // namespace brimlet::test
