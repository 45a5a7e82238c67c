#include "process/run_watchdog.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "process/stop_signals.h"
#include "support/temp_dir.h"

namespace brimlet {
namespace {

// The stop the cases note, and how the entry names it.
#ifdef _WIN32
constexpr int kStop = 2;  // CTRL_BREAK_EVENT, plus one
#define BRIMLET_TEST_STOP_NAME "CTRL_BREAK_EVENT"
#else
constexpr int kStop = SIGTERM;
#define BRIMLET_TEST_STOP_NAME "SIGTERM"
#endif

// The log the dying process writes. On Windows a death test's statement runs in a new process
// that runs the test's body again, so both need a path that is not a fresh temporary
// directory's: one per test in the temporary directory.
class DeathLog {
  public:
    DeathLog() {
#ifdef _WIN32
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        std::replace(name.begin(), name.end(), '/', '-');
        m_path = (std::filesystem::temp_directory_path() / ("brimlet-" + name + ".log")).string();
#else
        m_path = m_dir.path() + "/run.log";
#endif
        test::WriteFile(m_path, "");
    }
#ifdef _WIN32
    ~DeathLog() {
        std::error_code ec;
        std::filesystem::remove(m_path, ec);
    }
#endif
    DeathLog(const DeathLog&) = delete;
    DeathLog& operator=(const DeathLog&) = delete;
    const std::string& path() const {
        return m_path;
    }

  private:
#ifndef _WIN32
    test::TempDir m_dir;
#endif
    std::string m_path;
};

// A run past its bound, inside a watched step or not, or stopped in a step without a limit:
// the process writes the entry, runs the exit hook and ends with status 1.
struct StallCase {
    const char* name;
    bool armStep;
    bool stopInStepWithoutLimit;
    const char* entry;  // Function, Type, Val1..Val3 of the entry written
};

class StallTest : public ::testing::TestWithParam<StallCase> {};

TEST_P(StallTest, WritesTheEntryAndEndsTheProcess) {
    const DeathLog file;
    LogFile log;
    log.logFilePath = file.path();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            RunWatchdog watchdog;
            WatchedStep step(watchdog, 190);
            watchdog.LimitRun(log, "Main", 1);
            watchdog.SetExitHook(
                [](LogFile& l) { WriteLog(l, "modMain", "Test", "MSG", "hook ran", "", ""); });
            const RunWatchdog::Step watch =
                GetParam().armStep
                    ? watchdog.Arm(log, "getConnected", 70, 1, "HYT00: Login time-out of 1 s")
                    : RunWatchdog::Step();
            const RunWatchdog::Step stopWatch =
                GetParam().stopInStepWithoutLimit
                    ? watchdog.ArmForStop(log, "SubUpdateXmlCheckSum", 180)
                    : RunWatchdog::Step();
            if (GetParam().stopInStepWithoutLimit) {
                NoteStopSignal(kStop);
            }
            std::this_thread::sleep_for(std::chrono::seconds(30));
        },
        ::testing::ExitedWithCode(1), "");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 1.0 + 2.0 + 1.0);
    const std::string text = test::ReadFile(log.logFilePath);
    EXPECT_NE(text.find(GetParam().entry), std::string::npos) << text;
    EXPECT_NE(text.find("\tTest\tMSG\thook ran\t"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StallTest,
    ::testing::Values(
        // The run's bound passes before the step's own limit and names the step watched.
        StallCase{"BoundPassesDuringAStep", true, false,
                  "\tmodMain\tgetConnected\tERR\t-1\tRun time limit of 1 s exceeded\t70\r\n"},
        StallCase{"RunPastItsBound", false, false,
                  "\tmodMain\tMain\tERR\t-1\tRun time limit of 1 s exceeded\t190\r\n"},
        // A call without a time-out is not waited for once a stop signal came.
        StallCase{"StopInAStepWithoutLimit", false, true,
                  "\tmodMain\tSubUpdateXmlCheckSum\tERR\t-1\tStop signal " BRIMLET_TEST_STOP_NAME
                  " received\t180\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StepWatchTest, StepPastItsLimitAndGraceGetsItsOwnEntry) {
    const DeathLog file;
    LogFile log;
    log.logFilePath = file.path();
    EXPECT_EXIT(
        {
            RunWatchdog watchdog;
            const RunWatchdog::Step watch =
                watchdog.Arm(log, "FncCreateXMLString", 90, 1, "HYT00: Command time-out of 1 s");
            std::this_thread::sleep_for(std::chrono::seconds(30));
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_NE(test::ReadFile(log.logFilePath)
                  .find("\tmodMain\tFncCreateXMLString\tERR\t-1\tHYT00: Command time-out of 1 "
                        "s\t90\r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace brimlet
