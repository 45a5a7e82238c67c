#include "fsutil/atomic_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/failure.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace brimlet {
namespace {

std::vector<std::string> DirectoryNames(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AtomicFileTest, OnlyASuccessfulCommitChangesTheDirectory) {
    test::TempDir dir;
    const std::string path = dir / "Brimlet_A_B.xml";
    const std::vector<std::string> onlyTheDocument{"Brimlet_A_B.xml"};
    AtomicFile first(path);
    first.Write("old\r\n");
    EXPECT_FALSE(test::Exists(path));
    first.Commit();
    {
        AtomicFile dropped(path);
        dropped.Write("dropped\r\n");
    }
    EXPECT_EQ(test::ReadFile(path), "old\r\n");
    EXPECT_EQ(DirectoryNames(dir.path()), onlyTheDocument);
    AtomicFile second(path);
    second.Write(std::string(100000, 'x'));
    second.Commit();
    EXPECT_EQ(test::ReadFile(path), std::string(100000, 'x'));
    EXPECT_EQ(DirectoryNames(dir.path()), onlyTheDocument);

    // A directory in the document's place refuses the rename; a missing one the file itself.
    std::filesystem::create_directory(dir / "taken.xml");
    {
        AtomicFile taken(dir / "taken.xml");
        EXPECT_THROW(taken.Commit(), Failure);
    }
    EXPECT_EQ(DirectoryNames(dir.path()),
              (std::vector<std::string>{"Brimlet_A_B.xml", "taken.xml"}));
    EXPECT_THROW(AtomicFile(dir / "missing/d.xml"), Failure);
}

#ifndef _WIN32
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
#else
// Run in a child process by the case below: terminated while writing, as the Task Scheduler
// ends a task.
TEST(AtomicFileTest, DISABLED_WriterTerminatedWhileWriting) {
    char path[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableA("BRIMLET_ATOMIC_PATH", path, sizeof path), 0u);
    AtomicFile file(path);
    file.Write(std::string(1 << 20, 'x'));
    TerminateProcess(GetCurrentProcess(), 9);
}

TEST(AtomicFileTest, ProcessTerminatedWhileWritingLeavesNothingBehind) {
    test::TempDir dir;
    const std::string path = dir / "Brimlet_A_B.xml";
    test::WriteFile(path, "old\r\n");
    char exe[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, sizeof exe), 0u);
    std::string command = std::string("\"") + exe +
                          "\" --gtest_also_run_disabled_tests"
                          " --gtest_filter=AtomicFileTest.DISABLED_WriterTerminatedWhileWriting";
    ASSERT_TRUE(SetEnvironmentVariableA("BRIMLET_ATOMIC_PATH", path.c_str()));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessA(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &child));
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_EQ(status, 9u);
    EXPECT_EQ(DirectoryNames(dir.path()), std::vector<std::string>{"Brimlet_A_B.xml"});
    EXPECT_EQ(test::ReadFile(path), "old\r\n");
}

// A reader holding the document open refuses its replacement: a brief hold is waited out, a
// long one fails the commit with the old document in place.
TEST(AtomicFileTest, AReaderHoldingTheDocumentDelaysOrRefusesTheReplacement) {
    test::TempDir dir;
    const std::string path = dir / "Brimlet_A_B.xml";
    test::WriteFile(path, "old\r\n");
    for (const bool brief : {true, false}) {
        const HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        std::thread closer([reader, brief] {
            Sleep(brief ? 200 : 2000);
            CloseHandle(reader);
        });
        AtomicFile file(path);
        file.Write(brief ? "new\r\n" : "newer\r\n");
        if (brief) {
            EXPECT_NO_THROW(file.Commit());
        } else {
            EXPECT_THROW(file.Commit(), Failure);
        }
        closer.join();
        EXPECT_EQ(test::ReadFile(path), "new\r\n") << brief;
    }
}
#endif

}  // namespace
}  // namespace brimlet
