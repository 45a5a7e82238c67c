// Faults that need root and a second account (brimlet-other): the root stage of scripts/test
// runs them (filter RootStage*); elsewhere they are skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fault_case.h"

namespace brimlet::faults {
namespace {

// The second account, or nullptr (with the test skipped) when the stage cannot run here.
const passwd* OtherAccount() {
    return ::geteuid() == 0 ? ::getpwnam("brimlet-other") : nullptr;
}

// Another account that may write the program's directory takes the instance guard first: the
// run is no silent second instance, it fails and says why.
TEST(RootStage, GuardSquattedByAnotherAccountFailsTheRun) {
    const passwd* other = OtherAccount();
    if (other == nullptr) {
        GTEST_SKIP() << "needs root and the account brimlet-other: run by the root stage of "
                        "scripts/test";
    }
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
    const std::string link = test::LinkBrimlet(dir.path(), "pub_FA_LNX");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t squatter = ::fork();
    ASSERT_GE(squatter, 0);
    if (squatter == 0) {
        if (::setgid(other->pw_gid) != 0 || ::setuid(other->pw_uid) != 0) {
            ::_exit(1);
        }
        const int fd = ::open((dir / ".pub_FA_LNX.lock").c_str(), O_RDONLY | O_CREAT, 0600);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? '1' : '0';
        (void)::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    const auto r = test::RunProgram(link, link, dir.path(), {"LC_ALL=C"});
    ::kill(squatter, SIGKILL);
    ::waitpid(squatter, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find(dir / ".pub_FA_LNX.lock: belongs to uid " + std::to_string(other->pw_uid)),
              std::string::npos)
        << r.err;
    EXPECT_EQ(test::FindLogFile(dir.path()), "");
    struct stat st {};
    EXPECT_NE(::stat((dir / "Log").c_str(), &st), 0) << "the run went ahead";
}

// A run by hand as root in the service account's directory would leave root-owned files that
// break every later run of that account: it is refused before anything is created.
TEST(RootStage, RootRunInAnotherAccountsDirectoryIsRefused) {
    const passwd* other = OtherAccount();
    if (other == nullptr) {
        GTEST_SKIP() << "needs root and the account brimlet-other: run by the root stage of "
                        "scripts/test";
    }
    test::TempDir dir;
    const std::string link = test::LinkBrimlet(dir.path(), "pub_FA_LNX");
    ASSERT_EQ(::chown(dir.path().c_str(), other->pw_uid, other->pw_gid), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"--check"}}) {
        const auto r = test::RunProgram(link, link, dir.path(), {"LC_ALL=C"}, args);
        EXPECT_EQ(r.exitStatus, 1) << r.err;
        EXPECT_NE(r.err.find("not run as root: " + dir.path() + " belongs to brimlet-other"),
                  std::string::npos)
            << r.err;
        struct stat st {};
        EXPECT_NE(::lstat((dir / "Log").c_str(), &st), 0) << "the run created its log directory";
        EXPECT_NE(::lstat((dir / ".pub_FA_LNX.lock").c_str(), &st), 0) << "the run took its guard";
    }
}

}  // namespace
}  // namespace brimlet::faults
