#include "common/trust.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "support/temp_dir.h"

namespace brimlet {
namespace {

// A directory or file below `root` with exactly `mode` (the umask left out).
void Dir(const std::string& path, mode_t mode) {
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}
void File(const std::string& path, mode_t mode) {
    test::WriteFile(path, "code");
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

struct Case {
    const char* what;
    // Prepares below the root and gives the path to open.
    std::function<std::string(const std::string& root)> prepare;
    // What DistrustOf says of it ("" for trusted).
    std::function<std::string(const std::string& root)> expected;
};

void Judge(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string root = std::filesystem::canonical(dir.path()).string();
        const std::string path = c.prepare(root);
        const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        ASSERT_TRUE(fd) << path;
        EXPECT_EQ(DistrustOf(fd.get()), c.expected(root));
    }
}

const std::string kWritable = " is writable by group or others (mode ";

// Owner and mode of the file and of the directory it really sits in; a symlink on the way
// counts for nothing, in either direction.
TEST(Trust, FileAndItsRealDirectoryMustBeWritableByTheirOwnerOnly) {
    const auto trusted = [](const std::string&) { return std::string(); };
    Judge({
        {"own file, own directory",
         [](const std::string& r) {
             File(r + "/lib.so", 0644);
             return r + "/lib.so";
         },
         trusted},
        {"others may read and run it",
         [](const std::string& r) {
             File(r + "/lib.so", 0755);
             return r + "/lib.so";
         },
         trusted},
        {"group-writable file",
         [](const std::string& r) {
             File(r + "/lib.so", 0664);
             return r + "/lib.so";
         },
         [](const std::string& r) { return r + "/lib.so" + kWritable + "0664)"; }},
        {"other-writable file",
         [](const std::string& r) {
             File(r + "/lib.so", 0602);
             return r + "/lib.so";
         },
         [](const std::string& r) { return r + "/lib.so" + kWritable + "0602)"; }},
        {"group-writable directory",
         [](const std::string& r) {
             Dir(r + "/d", 0775);
             File(r + "/d/lib.so", 0644);
             return r + "/d/lib.so";
         },
         [](const std::string& r) { return "its directory " + r + "/d" + kWritable + "0775)"; }},
        // The sticky bit keeps others from replacing the file, not from planting it.
        {"world-writable sticky directory",
         [](const std::string& r) {
             Dir(r + "/d", 01777);
             File(r + "/d/lib.so", 0644);
             return r + "/d/lib.so";
         },
         [](const std::string& r) { return "its directory " + r + "/d" + kWritable + "1777)"; }},
        {"symlink in a trusted directory to a file in an open one",
         [](const std::string& r) {
             Dir(r + "/planted", 0777);
             File(r + "/planted/lib.so", 0644);
             EXPECT_EQ(::symlink((r + "/planted/lib.so").c_str(), (r + "/lib.so").c_str()), 0);
             return r + "/lib.so";
         },
         [](const std::string& r) {
             return "its directory " + r + "/planted" + kWritable + "0777)";
         }},
        {"symlink in an open directory to a trusted file",
         [](const std::string& r) {
             File(r + "/lib.so", 0644);
             Dir(r + "/open", 0777);
             EXPECT_EQ(::symlink((r + "/lib.so").c_str(), (r + "/open/lib.so").c_str()), 0);
             return r + "/open/lib.so";
         },
         trusted},
        {"a file of root in a directory of root", [](const std::string&) { return "/etc/passwd"; },
         trusted},
        {"the root directory, its own directory",
         [](const std::string&) { return std::string("/"); }, trusted},
    });
}

// What cannot be judged is not trusted.
TEST(Trust, WhatCannotBeExaminedIsNotTrusted) {
    EXPECT_EQ(DistrustOf(-1), "cannot be examined: Bad file descriptor");

    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const UniqueFd in(ends[0]), out(ends[1]);
    EXPECT_EQ(DistrustOf(in.get()), "its directory cannot be told");

    test::TempDir dir;
    const std::string gone = std::filesystem::canonical(dir.path()).string() + "/gone";
    Dir(gone, 0755);
    File(gone + "/lib.so", 0644);
    const UniqueFd fd(::open((gone + "/lib.so").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    ASSERT_EQ(::unlink((gone + "/lib.so").c_str()), 0);
    ASSERT_EQ(::rmdir(gone.c_str()), 0);
    EXPECT_EQ(DistrustOf(fd.get()), gone + " cannot be examined: No such file or directory");
}

// Owners other than root and this account; the root stage of scripts/test runs this with its
// second account.
TEST(Trust, RootStageFileOrDirectoryOfAnotherAccountIsNotTrusted) {
    const passwd* other = ::geteuid() == 0 ? ::getpwnam("brimlet-other") : nullptr;
    if (other == nullptr) {
        GTEST_SKIP() << "needs root and the account brimlet-other: run by the root stage of "
                        "scripts/test";
    }
    const uid_t uid = other->pw_uid;
    const gid_t gid = other->pw_gid;
    const std::string belongs =
        " belongs to uid " + std::to_string(uid) + ", neither root nor this account";
    Judge({
        {"file of another account",
         [=](const std::string& r) {
             File(r + "/lib.so", 0644);
             EXPECT_EQ(::chown((r + "/lib.so").c_str(), uid, gid), 0);
             return r + "/lib.so";
         },
         [=](const std::string& r) { return r + "/lib.so" + belongs; }},
        // The owner is judged before the mode.
        {"group-writable file of another account",
         [=](const std::string& r) {
             File(r + "/lib.so", 0664);
             EXPECT_EQ(::chown((r + "/lib.so").c_str(), uid, gid), 0);
             return r + "/lib.so";
         },
         [=](const std::string& r) { return r + "/lib.so" + belongs; }},
        {"directory of another account",
         [=](const std::string& r) {
             Dir(r + "/d", 0755);
             File(r + "/d/lib.so", 0644);
             EXPECT_EQ(::chown((r + "/d").c_str(), uid, gid), 0);
             return r + "/d/lib.so";
         },
         [=](const std::string& r) { return "its directory " + r + "/d" + belongs; }},
    });
}

}  // namespace
}  // namespace brimlet
