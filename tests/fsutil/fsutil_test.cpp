#include "fsutil/fsutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace brimlet {
namespace {

using test::Exists;
using test::TempDir;

bool IsDir(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class CreateDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Collect the utilities' entries in a log of our own.
        ASSERT_TRUE(std::filesystem::create_directory(logDir / "Log"));
        log.exeDir = logDir.path();
        log.exeName = "t_A_B";
        InitLogFile(log);
        header = test::ReadFile(log.logFilePath);
    }
    std::string Entries() const { return test::ReadFile(log.logFilePath).substr(header.size()); }

    TempDir dir;
    TempDir logDir;
    LogFile log;
    std::string header;
};

#ifdef _WIN32
// Paths as the Windows build takes them: "\" separates, "/" is an ordinary character.
std::string Below(const TempDir& dir, const std::string& relative) {
    return dir.path() + "\\" + relative;
}

TEST(QualifyPath, OnlyABackslashAtTheEndCounts) {
    LogFile log;
    EXPECT_EQ(QualifyPath(log, "C:\\x"), "C:\\x\\");
    EXPECT_EQ(QualifyPath(log, "C:\\x\\"), "C:\\x\\");
    EXPECT_EQ(QualifyPath(log, "C:/x/"), "C:/x/\\");
    EXPECT_EQ(QualifyPath(log, ""), "\\");
}

TEST_F(CreateDirTest, BackslashChainsAndWhatTheyNeverTest) {
    EXPECT_TRUE(CreateDir(log, Below(dir, "a\\b\\")));
    EXPECT_TRUE(CreateDir(log, Below(dir, "c\\d")));
    EXPECT_TRUE(IsDir(Below(dir, "a\\b")) && IsDir(Below(dir, "c\\d")));
    EXPECT_TRUE(CreateDir(log, Below(dir, "a\\b")));
    for (const char* path : {"C:\\", "C:", ""}) {
        EXPECT_TRUE(CreateDir(log, path)) << path;
    }
    // Forward slashes: the whole path is one element; nothing is tested or created.
    std::string slashed = dir.path();
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    EXPECT_TRUE(CreateDir(log, slashed + "/s/t/"));
    EXPECT_FALSE(Exists(Below(dir, "s")));
    // Relative: a single element tests nothing; in a\b, "a" itself is never tested.
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    EXPECT_TRUE(CreateDir(log, "abc"));
    EXPECT_FALSE(CreateDir(log, "e\\f"));
    std::filesystem::current_path(cwd);
    EXPECT_FALSE(Exists(Below(dir, "abc")) || Exists(Below(dir, "e")));
    // A plain file on the chain counts as present.
    test::WriteFile(Below(dir, "f"), "x");
    EXPECT_TRUE(CreateDir(log, Below(dir, "f")));
    EXPECT_FALSE(CreateDir(log, Below(dir, "f\\g\\h")));
    EXPECT_EQ(Entries(), "");
}

TEST_F(CreateDirTest, HiddenAndSystemDirectoriesCountAsMissing) {
    for (const DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
        const std::string marked = Below(dir, std::to_string(attribute));
        ASSERT_TRUE(CreateDir(log, marked + "\\"));
        ASSERT_TRUE(SetFileAttributesA(marked.c_str(), attribute));
        // Its creation is refused, as it exists: false, and nothing below it is made.
        EXPECT_FALSE(CreateDir(log, marked + "\\x\\")) << attribute;
        EXPECT_FALSE(Exists(marked + "\\x"));
    }
    EXPECT_EQ(Entries(), "");
}

// \\server is a bare server name, no directory: the share is never reached. Loopback, as a
// test may reach no other host.
TEST_F(CreateDirTest, UncPathsStopAtTheServerName) {
    EXPECT_FALSE(CreateDir(log, "\\\\127.0.0.1\\share\\dir\\"));
}

TEST_F(CreateDirTest, RejectedSearchIsLoggedInTheUtilitiesOwnLayout) {
    // A name longer than any the file system takes.
    EXPECT_FALSE(CreateDir(log, Below(dir, std::string(300, 'n') + "\\x")));
    const std::string entries = Entries();
    // Date-time, then "CreateDir", "ERROR", the Win32 code, its description, two empty values.
    ASSERT_NE(entries.find("\tCreateDir\tERROR\t"), std::string::npos) << entries;
    EXPECT_EQ(entries.substr(entries.size() - 4), "\t\t\r\n");
}
#else
TEST(QualifyPath, OnlyASlashAtTheEndCounts) {
    LogFile log;
    EXPECT_EQ(QualifyPath(log, "/x"), "/x/");
    EXPECT_EQ(QualifyPath(log, "/x/"), "/x/");
    EXPECT_EQ(QualifyPath(log, "C:\\x\\"), "C:\\x\\/");
    EXPECT_EQ(QualifyPath(log, ""), "/");
}

TEST_F(CreateDirTest, CreatesTheChainWithOrWithoutTrailingSlash) {
    EXPECT_TRUE(CreateDir(log, dir / "a/b/"));
    EXPECT_TRUE(IsDir(dir / "a/b"));
    EXPECT_TRUE(CreateDir(log, dir / "c/d"));
    EXPECT_TRUE(IsDir(dir / "c/d"));
    // Everything present: true again, nothing logged.
    EXPECT_TRUE(CreateDir(log, dir / "a/b"));
    EXPECT_EQ(Entries(), "");
}

TEST_F(CreateDirTest, PathsWithFewerThanThreeElementsTestNothing) {
    EXPECT_TRUE(CreateDir(log, "/"));
    EXPECT_TRUE(CreateDir(log, ""));
    // A single relative element: nothing is created in the working directory.
    const std::string cwd = std::filesystem::current_path();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    EXPECT_TRUE(CreateDir(log, "abc"));
    EXPECT_FALSE(Exists(dir / "abc"));
    // a/b: "a" itself is never tested, so the creation of a/b is refused.
    EXPECT_FALSE(CreateDir(log, "a/b"));
    EXPECT_FALSE(Exists(dir / "a"));
    ASSERT_EQ(::mkdir((dir / "a").c_str(), 0755), 0);
    EXPECT_TRUE(CreateDir(log, "a/b"));
    EXPECT_TRUE(IsDir(dir / "a/b"));
    ASSERT_EQ(::chdir(cwd.c_str()), 0);
    EXPECT_EQ(Entries(), "");
}

TEST_F(CreateDirTest, PlainFileOnTheChainCountsAsPresent) {
    test::WriteFile(dir / "f", "x");
    // As the last element: true, though no directory of that name exists.
    EXPECT_TRUE(CreateDir(log, dir / "f"));
    // In the middle: the creation below it is refused, silently.
    EXPECT_FALSE(CreateDir(log, dir / "f/g/h"));
    EXPECT_EQ(Entries(), "");
}

TEST_F(CreateDirTest, BackslashesAreOrdinaryCharacters) {
    EXPECT_TRUE(CreateDir(log, dir / "x\\y\\"));
    EXPECT_TRUE(IsDir(dir / "x\\y\\"));
}

TEST_F(CreateDirTest, RefusedHalfwayKeepsTheCreatedParent) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root ignores directory permissions";
    }
    ASSERT_TRUE(CreateDir(log, dir / "p"));
    ASSERT_EQ(::chmod((dir / "p").c_str(), 0555), 0);
    // q is created in the first pass, then the creation inside the read-only p is refused.
    EXPECT_FALSE(CreateDir(log, dir / "q/../p/s/t"));
    EXPECT_TRUE(IsDir(dir / "q"));
    EXPECT_FALSE(Exists(dir / "p/s"));
    EXPECT_EQ(Entries(), "");  // a refused creation is not logged
}

TEST_F(CreateDirTest, FailingPresenceTestIsLoggedInTheUtilitiesOwnLayout) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root ignores directory permissions";
    }
    ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0755), 0);
    ASSERT_EQ(::chmod((dir / "locked").c_str(), 0000), 0);
    EXPECT_FALSE(CreateDir(log, dir / "locked/a/b"));
    const std::string entries = Entries();
    // Date-time, then "CreateDir", "ERROR", the errno, its description, two empty values.
    EXPECT_NE(entries.find("\tCreateDir\tERROR\t13\t"), std::string::npos) << entries;
    EXPECT_EQ(entries.substr(entries.size() - 4), "\t\t\r\n");
    EXPECT_EQ(std::count(entries.begin(), entries.end(), '\t'), 6);
}

TEST_F(CreateDirTest, TooManyElementsOverflowTheLoopIndex) {
    // At the limit the chain is worked on until Linux's path length stops it; one past, the
    // overflow comes before anything is created.
    struct Case {
        std::size_t elements;
        const char* entry;
    };
    for (const Case& c : {Case{32767, "\tCreateDir\tERROR\t36\t"},
                          Case{32768, "\tCreateDir\tERROR\t6\tOverflow\t\t\r\n"}}) {
        SCOPED_TRACE(c.elements);
        TempDir tree;
        // "/x" elements after those of the directory; the trailing "/" adds an empty one.
        std::string path = tree.path();
        const auto slashes = static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
        for (std::size_t i = slashes + 1; i < c.elements - 1; ++i) {
            path += "/x";
        }
        path += "/";
        ASSERT_EQ(static_cast<std::size_t>(std::count(path.begin(), path.end(), '/')) + 1,
                  c.elements);
        const std::size_t before = Entries().size();
        EXPECT_FALSE(CreateDir(log, path));
        const std::string entries = Entries().substr(before);
        EXPECT_NE(entries.find(c.entry), std::string::npos);
        EXPECT_EQ(Exists(tree / "x"), c.elements < 32768);
    }
}
#endif

}  // namespace
}  // namespace brimlet
