#include "fsutil/fsutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "support/temp_dir.h"

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
        ASSERT_EQ(::mkdir((logDir / "Log").c_str(), 0755), 0);
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

}  // namespace
}  // namespace brimlet
