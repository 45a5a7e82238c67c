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

TEST(AtomicFileTest, TheTemporaryFileIsADotNameInTheDocumentsDirectory) {
    struct Case {
        std::string path, dir, prefix;
    } cases[] = {
#ifdef _WIN32
        {"C:\\out\\Brimlet_A_B.xml", "C:\\out", "C:\\out\\.Brimlet_A_B.xml."},
        {"C:/out/Brimlet_A_B.xml", "C:/out", "C:/out\\.Brimlet_A_B.xml."},
        {"\\\\srv\\share\\d.xml", "\\\\srv\\share", "\\\\srv\\share\\.d.xml."},
        {"C:\\d.xml", "C:", "C:\\.d.xml."},
        {"\\d.xml", "\\", "\\.d.xml."},
        {"d.xml", ".", ".\\.d.xml."},
#else
        {"/srv/out/Brimlet_A_B.xml", "/srv/out", "/srv/out/.Brimlet_A_B.xml."},
        {"out\\x/d.xml", "out\\x", "out\\x/.d.xml."},
        {"/d.xml", "/", "/.d.xml."},
        {"d.xml", ".", "./.d.xml."},
#endif
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TempDirectoryOf(c.path), c.dir) << c.path;
        EXPECT_EQ(TempNamePrefix(c.path), c.prefix) << c.path;
    }
}

TEST(AtomicFileTest, CommitPublishesTheWholeFileAndLeavesOnlyIt) {
    test::TempDir dir;
    const std::string path = dir / "Brimlet_A_B.xml";
    for (const std::string old : {"", "old\r\n"}) {
        if (!old.empty()) {
            test::WriteFile(path, old);
        }
        AtomicFile file(path);
        file.Write("new ");
        file.Write(std::string(100000, 'x'));
        EXPECT_EQ(test::Exists(path) ? test::ReadFile(path) : "", old);
        file.Commit();
        EXPECT_EQ(test::ReadFile(path), "new " + std::string(100000, 'x'));
        EXPECT_EQ(DirectoryNames(dir.path()), std::vector<std::string>{"Brimlet_A_B.xml"});
    }
}

TEST(AtomicFileTest, WithoutASuccessfulCommitNothingChanges) {
    test::TempDir dir;
    const std::string path = dir / "Brimlet_A_B.xml";
    test::WriteFile(path, "old\r\n");
    {
        AtomicFile file(path);
        file.Write("new\r\n");
    }
    EXPECT_EQ(test::ReadFile(path), "old\r\n");
    EXPECT_EQ(DirectoryNames(dir.path()), std::vector<std::string>{"Brimlet_A_B.xml"});

    // A directory where the document goes: the rename is refused.
    const std::string taken = dir / "taken.xml";
    std::filesystem::create_directory(taken);
    {
        AtomicFile file(taken);
        file.Write("new\r\n");
        EXPECT_THROW(file.Commit(), Failure);
    }
    EXPECT_TRUE(std::filesystem::is_directory(taken));
    EXPECT_EQ(DirectoryNames(dir.path()),
              (std::vector<std::string>{"Brimlet_A_B.xml", "taken.xml"}));

    EXPECT_THROW(AtomicFile(dir / "missing/Brimlet_A_B.xml"), Failure);
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
constexpr UINT kKilledStatus = 9;

// Run in a child process by the case below: writes a temporary file and is terminated, as the
// Task Scheduler ends a task.
TEST(AtomicFileTest, DISABLED_WriterTerminatedWhileWriting) {
    char path[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableA("BRIMLET_ATOMIC_PATH", path, sizeof path), 0u);
    AtomicFile file(path);
    file.Write(std::string(1 << 20, 'x'));
    TerminateProcess(GetCurrentProcess(), kKilledStatus);
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
    EXPECT_EQ(status, kKilledStatus);
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
        std::thread closer;
        if (brief) {
            closer = std::thread([reader] {
                Sleep(200);
                CloseHandle(reader);
            });
        }
        {
            AtomicFile file(path);
            file.Write(brief ? "new\r\n" : "newer\r\n");
            if (brief) {
                EXPECT_NO_THROW(file.Commit());
            } else {
                EXPECT_THROW(file.Commit(), Failure);
            }
        }
        if (brief) {
            closer.join();
        } else {
            CloseHandle(reader);
        }
        EXPECT_EQ(test::ReadFile(path), "new\r\n") << brief;
        EXPECT_EQ(DirectoryNames(dir.path()), std::vector<std::string>{"Brimlet_A_B.xml"});
    }
}
#endif

}  // namespace
}  // namespace brimlet
