#include "log/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST_F(LogFileTest, ValuesWithTabsAndLineBreaksStayOnOneLineOfSevenColumns) {
    InitLogFile(log);
    const std::string header = ReadFile(ExpectedPath());
    WriteLog(log, "modMain", "getConnected", "ERR", "-1", "08001: could not\r\n\tconnect\n", "70");
    const std::string entry = ReadFile(ExpectedPath()).substr(header.size());
    EXPECT_EQ(entry, GeneralDateText(clock.Now()) +
                         "\tmodMain\tgetConnected\tERR\t-1\t08001: could not   connect \t70\r\n");
    EXPECT_EQ(log.errEntries, 1);
}

TEST_F(LogFileTest, EntriesBeforeInitAreDroppedWithoutCreatingAFile) {
    WriteLog(log, "CreateDir", "ERROR", "13", "Permission denied", "", "");
    EXPECT_FALSE(test::Exists(ExpectedPath()));
    EXPECT_TRUE(log.logFilePath.empty());
}

TEST_F(LogFileTest, MissingLogDirectoryFailsInitAndLeavesPathEmpty) {
    log.exeDir = dir / "nowhere";
    EXPECT_THROW(InitLogFile(log), Failure);
    EXPECT_TRUE(log.logFilePath.empty());
    WriteLog(log, "modMain", "Main", "ERR", "76", "Path not found", "60");
    EXPECT_FALSE(test::Exists(dir / "nowhere"));
}

TEST_F(LogFileTest, DirectoryBearingTheFileNameCountsAsPresentAndEntriesAreDropped) {
    ASSERT_EQ(::mkdir(ExpectedPath().c_str(), 0755), 0);
    InitLogFile(log);
    EXPECT_EQ(log.logFilePath, ExpectedPath());
    WriteLog(log, "modMain", "Main", "MSG", "START", "", "");  // must not throw or crash
    struct stat st {};
    ASSERT_EQ(::stat(ExpectedPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
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

}  // namespace
}  // namespace brimlet
