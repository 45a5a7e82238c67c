// Stop-signal delivery: the first signal is the one noted, the run takes it once, and its text
// names it. The note lasts for the process, so each case runs in a process of its own.
#include "process/stop_signals.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

namespace brimlet {
namespace {

struct Delivery {
    const char* name;
    int first;
    int second;  // 0: none
    const char* text;
};

// Delivers the signals as the system would and prints what the run would see of them.
[[noreturn]] void DeliverAndReport(const Delivery& d) {
    InstallStopHandlers();
    int reported = 0;
    const int before = TakeUnreportedStop(reported);
    for (const int sig : {d.first, d.second}) {
        if (sig != 0) {
#ifdef _WIN32
            NoteStopSignal(sig);  // what the console control handler does with the event
#else
            (void)::raise(sig);
#endif
        }
    }
    const int taken = TakeUnreportedStop(reported);
    const int again = TakeUnreportedStop(reported);
    std::fprintf(stderr, "before=%d taken=%d reported=%d again=%d text=%s\n", before,
                 taken == d.first ? 1 : 0, reported == d.first ? 1 : 0, again,
                 StopSignalText(StopSignalReceived()).c_str());
    std::fflush(stderr);
    std::_Exit(0);
}

class StopSignalDelivery : public ::testing::TestWithParam<Delivery> {};

TEST_P(StopSignalDelivery, FirstSignalIsTakenOnceAndNamed) {
    const Delivery& d = GetParam();
    EXPECT_EXIT(DeliverAndReport(d), ::testing::ExitedWithCode(0),
                std::string("before=0 taken=1 reported=1 again=0 text=") + d.text);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, StopSignalDelivery,
    ::testing::Values(
#ifdef _WIN32
        Delivery{"CtrlC", 1, 0, "Stop signal CTRL_C_EVENT received"},
        Delivery{"CtrlBreakThenClose", 2, 3, "Stop signal CTRL_BREAK_EVENT received"},
        Delivery{"CloseThenCtrlC", 3, 1, "Stop signal CTRL_CLOSE_EVENT received"},
        Delivery{"UnknownEvent", 9, 0, "Stop signal 9 received"}
#else
        Delivery{"Term", SIGTERM, 0, "Stop signal SIGTERM received"},
        Delivery{"IntThenTerm", SIGINT, SIGTERM, "Stop signal SIGINT received"},
        Delivery{"HupThenInt", SIGHUP, SIGINT, "Stop signal SIGHUP received"}
#endif
        ),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// A driver blocked in a read when the signal comes goes on reading: it never sees EINTR.
TEST(StopSignalDelivery, ABlockedReadIsNotInterrupted) {
    EXPECT_EXIT(
        {
            InstallStopHandlers();
            int fds[2];
            if (::pipe(fds) != 0) {
                std::_Exit(2);
            }
            const pthread_t reader = ::pthread_self();
            std::thread other([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                (void)::pthread_kill(reader, SIGTERM);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                (void)::write(fds[1], "x", 1);
            });
            char byte = 0;
            const ssize_t n = ::read(fds[0], &byte, 1);
            other.join();
            std::fprintf(stderr, "read=%zd noted=%d\n", n, StopSignalReceived());
            std::fflush(stderr);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "read=1 noted=" + std::to_string(SIGTERM));
}
#endif

}  // namespace
}  // namespace brimlet
