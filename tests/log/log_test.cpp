#include "log/log.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <csignal>
#include <cstdlib>
#include <functional>

#include "log/journal_stream.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace brimlet {
namespace {

using test::FakeClock;
using test::LocalTimeOf;
using test::ReadFile;
using test::TempDir;

class LogFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::mkdir((dir / "Log").c_str(), 0755), 0);
        log.exeDir = dir.path();
        log.exeName = "pub_AG_OS";
        log.clock = &clock;
    }
    std::string ExpectedPath() const { return dir.path() + "/Log/pub_AG_OS_05032027.log"; }

    TempDir dir;
    FakeClock clock{LocalTimeOf(2027, 3, 5, 14, 5, 9)};
    LogFile log;
};

TEST_F(LogFileTest, FirstRunWritesHeaderThenEntriesSecondRunAppendsWithoutHeader) {
    InitLogFile(log);
    EXPECT_EQ(log.logFilePath, ExpectedPath());  // day and month keep their leading zeros
    WriteLog(log, "modMain", "Main", "MSG", "START", "", "");

    LogFile second = log;
    second.logFilePath.clear();
    InitLogFile(second);
    WriteLog(second, "modMain", "Main", "MSG", "END", "x", "y");

    const std::string when = GeneralDateText(clock.Now());
    const std::string expected =
        "#Software: TULO.KEM.DC.pub_AG_OS\r\n"
        "#Version: 2.0\r\n"
        "#Date: " +
        when + "\r\n" + "#Fields: DateTime\tModule\tFunction\tType\tVal1\tVal2\tVal3\r\n" +
        std::string(126, '-') + "\r\n" + when + "\tmodMain\tMain\tMSG\tSTART\t\t\r\n" + when +
        "\tmodMain\tMain\tMSG\tEND\tx\ty\r\n";
    EXPECT_EQ(ReadFile(ExpectedPath()), expected);
}

// A NUL (MariaDB values may hold one) would make the file binary to grep. The password is left
// out of the driver's text, even where the driver echoed a TAB inside it; the program's own
// words around it stay whole, though a one-letter password is in them.
TEST_F(LogFileTest, ValuesStayOneTextLineOfSevenColumnsWithoutThePassword) {
    InitLogFile(log);
    log.redactor.AddConnectionString("Driver={x;Server=h;PWD=s3\tcr{et");
    log.redactor.AddConnectionString("Driver=x;Pwd=x");
    const std::string header = ReadFile(ExpectedPath());
    WriteLog(log, "modMain", "Main", "MSG", std::string("a\r\n\tb\0c", 7), "x", "");
    WriteErrorEntry(log, "getConnected",
                    Failure(-1, "08001", "/srv/x/pub_x_LINUX: ",
                            "08001: could not\r\n\tconnect x\n PWD=s3\tcr{et; s3\tcr{et"),
                    70);
    const std::string when = GeneralDateText(clock.Now());
    EXPECT_EQ(ReadFile(ExpectedPath()).substr(header.size()),
              when + "\tmodMain\tMain\tMSG\ta   b c\tx\t\r\n" + when +
                  "\tmodMain\tgetConnected\tERR\t-1\t/srv/x/pub_x_LINUX: 08001: could not   "
                  "connect ***  PWD=***; ***\t70\r\n");
    EXPECT_EQ(log.errEntries, 1);
}

TEST_F(LogFileTest, EntriesBeforeInitAreDroppedWithoutCreatingAFile) {
    WriteLog(log, "CreateDir", "ERROR", "13", "Permission denied", "", "");
    EXPECT_FALSE(test::Exists(ExpectedPath()));
    EXPECT_TRUE(log.logFilePath.empty());
    EXPECT_EQ(log.droppedEntries, 1);
}

TEST_F(LogFileTest, MissingLogDirectoryFailsInitAndLeavesPathEmpty) {
    log.exeDir = dir / "nowhere";
    EXPECT_THROW(InitLogFile(log), Failure);
    EXPECT_TRUE(log.logFilePath.empty());
    WriteLog(log, "modMain", "Main", "ERR", "76", "Path not found", "60");
    EXPECT_FALSE(test::Exists(dir / "nowhere"));
}

// Anything but a regular file at the day's path is refused, and left as it was.
struct SpecialDayPath {
    const char* name;
    std::function<void(const std::string& path, const std::string& elsewhere)> make;
    mode_t type;  // S_IFMT bits that lstat must still show afterwards
};

void PrintTo(const SpecialDayPath& c, std::ostream* os) {
    *os << c.name;
}

class LogSpecialFileTest : public LogFileTest,
                           public ::testing::WithParamInterface<SpecialDayPath> {};

TEST_P(LogSpecialFileTest, InitFailsWithoutFollowingOrWaiting) {
    const std::string elsewhere = dir / "elsewhere.txt";
    test::WriteFile(elsewhere, "not a log\n");
    GetParam().make(ExpectedPath(), elsewhere);
    ::alarm(20);  // a FIFO that blocks the open ends the test instead of hanging it
    EXPECT_THROW(InitLogFile(log), Failure);
    WriteLog(log, "modMain", "Main", "MSG", "START", "", "");
    ::alarm(0);
    EXPECT_TRUE(log.logFilePath.empty());
    EXPECT_EQ(ReadFile(elsewhere), "not a log\n");
    struct stat st {};
    ASSERT_EQ(::lstat(ExpectedPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(
    DayPath, LogSpecialFileTest,
    ::testing::Values(
        SpecialDayPath{"Directory",
                       [](const std::string& p, const std::string&) { ::mkdir(p.c_str(), 0755); },
                       S_IFDIR},
        SpecialDayPath{"Fifo",
                       [](const std::string& p, const std::string&) { ::mkfifo(p.c_str(), 0644); },
                       S_IFIFO},
        SpecialDayPath{"SymlinkToAFile",
                       [](const std::string& p, const std::string& e) {
                           (void)::symlink(e.c_str(), p.c_str());
                       },
                       S_IFLNK}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogFileTest, ExistingEmptyFileGetsTheHeader) {
    test::WriteFile(ExpectedPath(), "");
    InitLogFile(log);
    WriteLog(log, "modMain", "Main", "MSG", "START", "", "");
    const auto content = ReadFile(ExpectedPath());
    EXPECT_EQ(content.rfind("#Software: TULO.KEM.DC.pub_AG_OS\r\n#Version: 2.0\r\n#Date: ", 0), 0u)
        << content;
    EXPECT_NE(content.find(std::string(126, '-') + "\r\n" + GeneralDateText(clock.Now()) +
                           "\tmodMain\tMain\tMSG\tSTART\t\t\r\n"),
              std::string::npos);
}

// A file-size limit a little above the current size makes the kernel write only part of the
// next entry: the file keeps no piece of it, and the entry after it starts on its own line.
TEST_F(LogFileTest, ShortWriteLeavesNoPartOfTheEntry) {
    InitLogFile(log);
    WriteLog(log, "modMain", "Main", "MSG", "START", "", "");
    const std::string before = ReadFile(ExpectedPath());
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = before.size() + 40;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    WriteLog(log, "modMain", "Main", "ERR", "28", std::string(300, 'x'), "190");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(ReadFile(ExpectedPath()), before);
    EXPECT_EQ(log.droppedEntries, 1);
    WriteLog(log, "modMain", "Main", "MSG", "END", "", "");
    EXPECT_EQ(ReadFile(ExpectedPath()),
              before + GeneralDateText(clock.Now()) + "\tmodMain\tMain\tMSG\tEND\t\t\r\n");
    EXPECT_EQ(log.droppedEntries, 1);
}

TEST_F(LogFileTest, RunAcrossMidnightKeepsTheFirstDaysFile) {
    clock.Set(LocalTimeOf(2027, 3, 5, 23, 59, 59));
    InitLogFile(log);
    clock.Set(LocalTimeOf(2027, 3, 6, 0, 0, 0));
    WriteLog(log, "modMain", "Main", "MSG", "END", "", "");
    const std::string content = ReadFile(ExpectedPath());
    // The midnight entry shows the date alone, in the file named for the day before.
    EXPECT_NE(content.find("\r\n" + GeneralDateText(clock.Now()) + "\tmodMain"), std::string::npos);
    EXPECT_EQ(GeneralDateText(clock.Now()).find(':'), std::string::npos);
}

TEST_F(LogFileTest, HeaderDateIsAReadingOfItsOwn) {
    // Named at 23:59:59; the header is written a second later, on the next day.
    clock.Set(LocalTimeOf(2027, 3, 5, 23, 59, 59));
    clock.StepEachReading(1);
    InitLogFile(log);
    EXPECT_EQ(log.logFilePath, ExpectedPath());
    const std::string header = ReadFile(ExpectedPath());
    EXPECT_NE(
        header.find("\r\n#Date: " + GeneralDateText(LocalTimeOf(2027, 3, 6, 0, 0, 0)) + "\r\n"),
        std::string::npos)
        << header;
}

#ifndef _WIN32
TEST(JournalStream, OnlyTheDeviceAndInodeOfTheStreamItselfMatch) {
    const struct {
        const char* env;
        bool matches;
    } cases[] = {{"8:1234", true},   {"8:1235", false},  {"9:1234", false},  {"8:1234x", false},
                 {"8:", false},      {":1234", false},   {"", false},        {"81234", false},
                 {" 8:1234", false}, {"8:-1234", false}, {"8:1234:1", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(IsJournalStream(c.env, 8, 1234), c.matches) << c.env;
    }
    EXPECT_TRUE(IsJournalStream("18446744073709551615:1", UINT64_MAX, 1));
}

// Through the writer: stderr made a file whose device and inode JOURNAL_STREAM names or not.
TEST(JournalStream, ReportLinesCarryThePriorityOnlyWhenStderrIsTheJournal) {
    TempDir dir;
    const std::string path = dir / "stderr";
    const int saved = ::dup(STDERR_FILENO);
    ASSERT_GE(saved, 0);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    ASSERT_EQ(::dup2(fd, STDERR_FILENO), STDERR_FILENO);
    ::close(fd);
    const std::string match = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    LogFile log;
    log.stderrPrefix = "brimlet[pub_AG_OS]: ";
    ::setenv("JOURNAL_STREAM", match.c_str(), 1);
    WriteStderrLine(log, Severity::kError, "e");
    WriteStderrLine(log, Severity::kWarning, "w");
    WriteStderrLine(log, Severity::kNotice, "n");
    WriteStderrText("two\nlines\n", Severity::kError);
    ::setenv("JOURNAL_STREAM", (match + "1").c_str(), 1);
    WriteStderrLine(log, Severity::kError, "other stream");
    ::unsetenv("JOURNAL_STREAM");
    WriteStderrLine(log, Severity::kError, "no journal");
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    EXPECT_EQ(ReadFile(path),
              "<3>brimlet[pub_AG_OS]: e\n<4>brimlet[pub_AG_OS]: w\n<5>brimlet[pub_AG_OS]: n\n"
              "<3>two\n<3>lines\n"
              "brimlet[pub_AG_OS]: other stream\nbrimlet[pub_AG_OS]: no journal\n");
}
#endif

}  // namespace
}  // namespace brimlet
