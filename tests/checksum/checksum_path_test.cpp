// The fallback to the system's library path, when the executable's directory has no library.
// This executable's run path holds a stand-in named libVelGnMD5.so.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "checksum_test_util.h"
#include "run/checksum.h"
#include "support/temp_dir.h"

namespace brimlet::test {
namespace {

TEST(ChecksumPath, BareNameIsTriedWhenTheExecutableDirectoryHasNoLibrary) {
    TempDir dir;
    RunContext ctx;
    InitTestRun(ctx, dir.path());
    WriteFile(dir / "doc.xml", "x");
    Md5Library lib(dir.path());
    std::string errorText;
    EXPECT_EQ(Checksum(ctx, lib, dir / "doc.xml", errorText), "FROM-PATH");
    EXPECT_EQ(lib.LoadedFrom(), "libVelGnMD5.so");
    EXPECT_EQ(errorText, "");
}

// dlopen would wait forever for a writer on a FIFO; it is passed over like a missing file.
TEST(ChecksumPath, AFifoBesideTheExecutableIsPassedOver) {
    TempDir dir;
    RunContext ctx;
    InitTestRun(ctx, dir.path());
    WriteFile(dir / "doc.xml", "x");
    ASSERT_EQ(::mkfifo((dir / "libVelGnMD5.so").c_str(), 0644), 0);
    Md5Library lib(dir.path());
    std::string errorText;
    ::alarm(20);  // a hang ends the test instead of the suite
    EXPECT_EQ(Checksum(ctx, lib, dir / "doc.xml", errorText), "FROM-PATH");
    ::alarm(0);
    EXPECT_EQ(lib.LoadedFrom(), "libVelGnMD5.so");
}

TEST(ChecksumPath, TheExecutableDirectoryWinsOverTheLibraryPath) {
    TempDir dir;
    RunContext ctx;
    InitTestRun(ctx, dir.path());
    WriteFile(dir / "doc.xml", "abc");
    InstallMd5Library(REAL_MD5_LIBRARY, dir.path());
    Md5Library lib(dir.path());
    std::string errorText;
    EXPECT_EQ(Checksum(ctx, lib, dir / "doc.xml", errorText), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(lib.LoadedFrom(), dir / "libVelGnMD5.so");
}

}  // namespace
}  // namespace brimlet::test
