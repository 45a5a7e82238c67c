#include "fsutil/atomic_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace brimlet {
namespace {

std::vector<std::string> DirectoryNames(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(d);
    }
    return names;
}

TEST(AtomicFileTest, ProcessKilledWhileWritingLeavesNothingBehind) {
    test::TempDir dir;
    const std::string path = dir / "Brimlet_A_B.xml";
    test::WriteFile(path, "old\r\n");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AtomicFile file(path);
        file.Write(std::string(1 << 20, 'x'));
        ::kill(::getpid(), SIGKILL);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(DirectoryNames(dir.path()), std::vector<std::string>{"Brimlet_A_B.xml"});
    EXPECT_EQ(test::ReadFile(path), "old\r\n");
}

}  // namespace
}  // namespace brimlet
