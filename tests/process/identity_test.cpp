#include "process/identity.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "process/unit_check.h"
#include "support/temp_dir.h"

namespace brimlet {
namespace {

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

TEST(ResolveInvokedExecutable, PathWithSlashIsMadeAbsoluteWithoutCollapsingDotDot) {
    struct Case {
        const char* argv0;
        const char* cwd;
        const char* path;
        const char* dir;
    };
    for (const Case& c : {
             Case{"./bin/../links/pub_AG_OS", "/srv/app", "/srv/app/bin/../links/pub_AG_OS",
                  "/srv/app/bin/../links"},
             Case{"/x/sym/../p_KA_WIN64", "/w", "/x/sym/../p_KA_WIN64", "/x/sym/.."},
             Case{"a//./b/p_A_B", "/w/", "/w/a/b/p_A_B", "/w/a/b"},
         }) {
        const auto id = ResolveInvokedExecutable(c.argv0, c.cwd, "/usr/bin");
        EXPECT_EQ(id.path, c.path) << c.argv0;
        EXPECT_EQ(id.dir, c.dir) << c.argv0;
    }
    // sym -> real/deep: the kernel runs real/p_KA_WIN64, so that is the program's directory.
    test::TempDir d;
    ASSERT_EQ(::mkdir((d / "real").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((d / "real/deep").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("real/deep", (d / "sym").c_str()), 0);
    const auto id = ResolveInvokedExecutable(d / "sym/../p_KA_WIN64", "/", "");
    EXPECT_EQ(id.name, "p_KA_WIN64");
    EXPECT_TRUE(SameFile(id.dir, d / "real")) << id.dir;
}

TEST(ResolveInvokedExecutable, NameIsTheWholeFileNameDotsIncluded) {
    EXPECT_EQ(ResolveInvokedExecutable("/x/pub_KA_WIN.64", "/", "").name, "pub_KA_WIN.64");
    EXPECT_EQ(ResolveInvokedExecutable("/x/a_b.v2_c.exe", "/", "").name, "a_b.v2_c.exe");
    EXPECT_EQ(ResolveInvokedExecutable("/x/.p_A_B", "/", "").name, ".p_A_B");
    EXPECT_EQ(ResolveInvokedExecutable("/pub_A_B", "/", "").dir, "");
}

TEST(ResolveInvokedExecutable, BareNameIsLookedUpInPath) {
    test::TempDir d;
    ASSERT_EQ(::mkdir((d / "one").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((d / "two").c_str(), 0755), 0);
    test::WriteFile(d / "two/pub_A_B", "#!/bin/sh\n");
    ASSERT_EQ(::chmod((d / "two/pub_A_B").c_str(), 0755), 0);
    const auto id = ResolveInvokedExecutable("pub_A_B", "/", (d / "one") + ":" + (d / "two"));
    EXPECT_EQ(id.dir, d / "two");
    // Not found anywhere: the working directory stands in.
    EXPECT_EQ(ResolveInvokedExecutable("pub_X_Y", "/w", d / "one").path, "/w/pub_X_Y");
}

// --check under the pair's unit: what systemctl shows of the asked properties is passed on as
// shown, empty values and anything not asked (a longer name included) left out.
TEST(UnitCheck, TheUnitsShownPropertiesBecomeSystemdRunsProperties) {
    const std::string unit = "brimlet@pub_KA_LINUX.service";
    const std::string link = "/var/lib/brimlet/pub_KA_LINUX/pub_KA_LINUX";
    const std::string shown =
        "LoadState=loaded\nUser=brimlet\nGroup=brimlet\nSupplementaryGroups=\n"
        "ProtectSystem=strict\n"
        "ReadWritePaths=/var/lib/brimlet/pub_KA_LINUX -/var/log/brimlet/pub_KA_LINUX -/srv/www/KA\n"
        "ExecStart=/bin/sh\nUserX=root\nPrivateTmp=yes";
    const auto command = UnitCheckCommand(shown, unit, link);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(*command,
              (std::vector<std::string>{
                  "systemd-run", "--wait", "--pipe", "--quiet", "--collect", "--service-type=exec",
                  "--description=brimlet --check in " + unit, "--property=User=brimlet",
                  "--property=Group=brimlet", "--property=ProtectSystem=strict",
                  "--property=ReadWritePaths=/var/lib/brimlet/pub_KA_LINUX "
                  "-/var/log/brimlet/pub_KA_LINUX -/srv/www/KA",
                  "--property=PrivateTmp=yes", "--", link, "--check"}));
    // A unit that is not there, or runs as root: the check goes on as before.
    EXPECT_FALSE(UnitCheckCommand("LoadState=not-found\nUser=brimlet\n", unit, link));
    EXPECT_FALSE(UnitCheckCommand("LoadState=loaded\nUser=\nGroup=brimlet\n", unit, link));
}

}  // namespace
}  // namespace brimlet
