// Where the MD5 library is looked for, and which files are trusted with the run's account.
// This executable's run path holds a stand-in named libVelGnMD5.so that must never load.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "checksum_test_util.h"
#include "run/checksum.h"
#include "support/run_log.h"

namespace brimlet::test {
namespace {

constexpr const char* kAbcMd5 = "900150983CD24FB0D6963F7D28E17F72";

struct Search {
    LoggedRun run;
    TempDir& linkDir = run.dir;
    TempDir binaryDir;
    RunContext& ctx = run.ctx;
    Search() { WriteFile(linkDir / "doc.xml", "abc"); }
    std::string Run(Md5Library& lib) {
        std::string errorText;
        ::alarm(20);  // a hang ends the test instead of the suite
        std::string sum = Checksum(ctx, lib, linkDir / "doc.xml", errorText);
        ::alarm(0);
        return sum.empty() ? errorText : sum;
    }
};

TEST(ChecksumPath, TheLinkDirectoryFirstThenTheBinarysNeverTheLoadersSearch) {
    {
        SCOPED_TRACE("in neither directory: the run path's stand-in is not loaded");
        Search s;
        Md5Library lib(s.linkDir.path(), s.binaryDir.path());
        EXPECT_EQ(s.Run(lib), "File not found: VelGnMD5");
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
}

// Code another account could have written is not run, also through a symlink or where a
// sticky bit guards the directory (the fault matrix has the plain group-writable cases).
TEST(ChecksumPath, ALibraryOthersCouldWriteIsNotLoaded) {
    for (const bool throughSymlink : {false, true}) {
        SCOPED_TRACE(throughSymlink ? "symlink" : "sticky directory");
        Search s;
        const std::string dir = throughSymlink ? s.binaryDir / "planted" : s.linkDir.path();
        ASSERT_EQ(::mkdir((s.binaryDir / "planted").c_str(), 0755), 0);
        InstallMd5Library(REAL_MD5_LIBRARY, dir);
        if (throughSymlink) {
            ASSERT_EQ(::symlink((dir + "/libVelGnMD5.so").c_str(),
                                (s.linkDir / "libVelGnMD5.so").c_str()),
                      0);
        }
        ASSERT_EQ(::chmod(dir.c_str(), throughSymlink ? 0777 : 01777), 0);
        // A trusted copy beside the binary does not make up for the refused one.
        InstallMd5Library(REAL_MD5_LIBRARY, s.binaryDir.path());
        Md5Library lib(s.linkDir.path(), s.binaryDir.path());
        EXPECT_EQ(s.Run(lib), "File not found: VelGnMD5");
        EXPECT_EQ(lib.LoadedFrom(), "");
        EXPECT_NE(lib.Refusal().find("its directory " + dir + " is writable"), std::string::npos)
            << lib.Refusal();
        ::chmod(dir.c_str(), 0755);
    }
}

// Root loads no library another account owns, nor one from a directory it owns; the root
// stage of scripts/test runs this with its second account.
TEST(ChecksumPath, RootStageLibraryOfAnotherAccountIsNotLoaded) {
    const passwd* other = ::geteuid() == 0 ? ::getpwnam("brimlet-other") : nullptr;
    if (other == nullptr) {
        GTEST_SKIP() << "needs root and the account brimlet-other: run by the root stage of "
                        "scripts/test";
    }
    for (const bool ownsTheDirectory : {false, true}) {
        SCOPED_TRACE(ownsTheDirectory ? "directory" : "file");
        Search s;
        InstallMd5Library(REAL_MD5_LIBRARY, s.linkDir.path());
        const std::string target =
            ownsTheDirectory ? s.linkDir.path() : s.linkDir / "libVelGnMD5.so";
        ASSERT_EQ(::chown(target.c_str(), other->pw_uid, other->pw_gid), 0);
        Md5Library lib(s.linkDir.path(), s.binaryDir.path());
        EXPECT_EQ(s.Run(lib), "File not found: VelGnMD5");
        EXPECT_EQ(lib.LoadedFrom(), "");
        EXPECT_NE(lib.Refusal().find("belongs to uid " + std::to_string(other->pw_uid)),
                  std::string::npos)
            << lib.Refusal();
        ASSERT_EQ(::chown(target.c_str(), 0, 0), 0);
    }
}

}  // namespace
}  // namespace brimlet::test
