#include "process/instance_guard.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace brimlet {
namespace {

using State = InstanceGuard::State;

TEST(InstanceGuard, OneHolderPerPathReleasedWhenTheHolderIsKilled) {
    test::TempDir d;
    const std::string path = d / "pub_A_B";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstanceGuard g;
        const char ok = g.Acquire(path) == State::Held ? '1' : '0';
        (void)::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, '1');

    InstanceGuard second;
    EXPECT_EQ(second.Acquire(path), State::HeldElsewhere);
    InstanceGuard other;
    EXPECT_EQ(other.Acquire(path + "x"), State::Held);  // another executable path is not blocked

    ASSERT_EQ(::kill(child, SIGKILL), 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    InstanceGuard after;
    EXPECT_EQ(after.Acquire(path), State::Held);
    struct stat st {};
    ASSERT_EQ(::stat((d / ".pub_A_B.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(InstanceGuard, OneLinkIsOneInstanceThroughEveryPathToIt) {
    test::TempDir d;
    ASSERT_EQ(::mkdir((d / "real").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("real", (d / "alias").c_str()), 0);
    ASSERT_EQ(::symlink("/bin/true", (d / "real/pub_A_B").c_str()), 0);
    test::WriteFile(d / "real/pub_H_1", "");
    ASSERT_EQ(::link((d / "real/pub_H_1").c_str(), (d / "real/pub_H_2").c_str()), 0);
    struct Case {
        std::string held, started;
        bool refused;
    };
    const std::vector<Case> cases = {
        {d / "real/pub_A_B", d / "alias/pub_A_B", true},
        {d / "alias/pub_A_B", d / "real/pub_A_B", true},
        // Hard links of one binary share an inode but serve other pairs.
        {d / "real/pub_H_1", d / "real/pub_H_2", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.held + " / " + c.started);
        InstanceGuard held;
        ASSERT_EQ(held.Acquire(c.held), State::Held);
        InstanceGuard second;
        EXPECT_EQ(second.Acquire(c.started), c.refused ? State::HeldElsewhere : State::Held);
    }
}

TEST(InstanceGuard, OfManySimultaneousStartsExactlyOneHolds) {
    test::TempDir d;
    const std::string path = d / "pub_R_S";
    constexpr int kStarts = 50;
    int results[2];
    ASSERT_EQ(::pipe(results), 0);
    int release[2];
    ASSERT_EQ(::pipe(release), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kStarts; ++i) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(release[1]);  // else no child ever sees the parent's release
            InstanceGuard g;
            const char c = g.Acquire(path) == State::Held ? '1' : '0';
            (void)::write(results[1], &c, 1);
            char x;
            (void)::read(release[0], &x, 1);  // hold until the parent has counted
            ::_exit(0);
        }
        children.push_back(pid);
    }
    int holders = 0;
    for (int i = 0; i < kStarts; ++i) {
        char c = 0;
        ASSERT_EQ(::read(results[0], &c, 1), 1);
        holders += (c == '1');
    }
    ::close(release[1]);
    for (const pid_t pid : children) {
        ::waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(holders, 1);
    ::close(results[0]);
    ::close(results[1]);
    ::close(release[0]);
}

// A lock file that another account could open, or that leads elsewhere, is no second instance.
TEST(InstanceGuard, ALockFileThatIsNotTheAccountsOwnIsRefused) {
    test::TempDir d;
    test::WriteFile(d / "elsewhere", "");
    ASSERT_EQ(::symlink((d / "elsewhere").c_str(), (d / ".pub_L_1.lock").c_str()), 0);
    test::WriteFile(d / ".pub_M_1.lock", "");
    ASSERT_EQ(::chmod((d / ".pub_M_1.lock").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((d / ".pub_F_1.lock").c_str(), 0600), 0);
    for (const auto& [name, why] : std::vector<std::pair<std::string, std::string>>{
             {"pub_L_1", "a symbolic link"},
             {"pub_M_1", "mode 0644"},
             {"pub_F_1", "not a regular file"},
             {"missing/pub_D_1", "No such file or directory"}}) {
        SCOPED_TRACE(name);
        InstanceGuard g;
        EXPECT_EQ(g.Acquire(d / name), State::Refused);
        EXPECT_NE(g.Refusal().find(why), std::string::npos) << g.Refusal();
    }
}

}  // namespace
}  // namespace brimlet
