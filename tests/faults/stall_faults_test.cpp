// A server that stops answering in the middle of a call: stopped by SIGSTOP (a server of the
// test's own), or cut off by a proxy that stops forwarding (the shared servers); and a login
// through FreeTDS to a listener that never answers. Every run must end within its bound, with
// the step's ERR entry, the old document and status 1.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "fault_case.h"
#include "support/fault_listener.h"
#include "support/fault_mariadb_server.h"
#include "support/fault_pg_server.h"
#include "support/fault_proxy.h"

namespace brimlet::faults {
namespace {

using test::Backend;

constexpr double kCmdTimeout = 2.0;
// Cancel after 0.5 s, the run ended by 2 s past the limit; the rest is start-up and log.
constexpr double kStallBound = kCmdTimeout + 2.0 + 1.5;
constexpr auto kTestBound = std::chrono::seconds(20);

// Runs the site; when the run is not back within kTestBound, `release` frees whatever holds
// it, so that code which hangs fails the test instead of hanging the suite.
test::ProcessResult RunBounded(const RunSite& site, const std::function<void()>& release) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread guard([&] {
        std::unique_lock lock(m);
        if (!cv.wait_for(lock, kTestBound, [&] { return done; })) {
            release();
        }
    });
    const auto r = site.Run();
    {
        const std::lock_guard lock(m);
        done = true;
    }
    cv.notify_one();
    guard.join();
    return r;
}

void Signal(const std::vector<pid_t>& pids, int sig) {
    for (pid_t pid : pids) {
        ::kill(pid, sig);
    }
}

// Waits until the run has logged its component query, then lets it reach the server.
void AtComponentQuery(const RunSite& site, const std::function<void()>& action) {
    for (int i = 0; i < 4000; ++i) {
        if (HasEntry(site.Texts(), "modMain|FncCreateXMLString|MSG|Creating File type wise")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            action();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ExpectStalledQuery(const RunSite& site, const std::string& previous,
                        const test::ProcessResult& r) {
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_LT(r.seconds, kStallBound) << "configured cmdtimeoutsec " << kCmdTimeout;
    std::printf("[ observed ] %.2f s for cmdtimeoutsec=%.0f\n", r.seconds, kCmdTimeout);
    EXPECT_EQ(site.Document(), previous);
    EXPECT_TRUE(site.TempFiles().empty());
    const auto texts = site.Texts();
    EXPECT_TRUE(HasEntry(texts,
                         "modMain|FncCreateXMLString|ERR|-1|HYT00: Command time-out of 2 s "
                         "expired|90"))
        << site.Log().raw;
    EXPECT_FALSE(HasEntry(texts, "modMain|SubCreateBrimletXML|MSG|Created new xml file"));
    // Ended by the watchdog, the run still tells the journal why and that it failed.
    EXPECT_NE(r.err.find("]: FncCreateXMLString: -1 HYT00: Command time-out of 2 s expired 90\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("]: run failed (status 1), see "), std::string::npos) << r.err;
}

// A private server per backend whose component procedure sleeps, so the stop lands in it.
class StoppedServerTest : public ::testing::TestWithParam<Backend> {};

TEST_P(StoppedServerTest, RunEndsWithTheStepEntryWhenTheServerStopsMidQuery) {
    test::TempDir root;
    RunSite site;
    std::unique_ptr<test::PrivatePgServer> pg;
    std::unique_ptr<test::PrivateMariaDbServer> maria;
    pid_t server = -1;
    std::string conn;
    const std::string schema = test::ReadFile(SqlDir(GetParam()) + "/schema.sql") + "\n" +
                               test::ReadFile(SqlDir(GetParam()) + "/procedures.sql");
    if (GetParam() == Backend::Pg) {
        pg = std::make_unique<test::PrivatePgServer>(root.path());
        pg->Start();
        pg->ExecScript(schema);
        pg->ExecScript(
            "DROP FUNCTION USP_AgentComponent_Details;\n"
            "CREATE FUNCTION USP_AgentComponent_Details(in_os_type varchar(50), "
            "in_agent_type varchar(10)) RETURNS TABLE (\"Type\" varchar) LANGUAGE plpgsql AS "
            "$$ BEGIN PERFORM pg_sleep(30); RETURN QUERY SELECT 'DLL'::varchar; END $$;");
        server = pg->pid();
        conn = pg->ConnectionString();
    } else {
        maria = std::make_unique<test::PrivateMariaDbServer>(root.path());
        maria->ExecScript(schema);
        maria->ExecScript(
            "DROP PROCEDURE USP_AgentComponent_Details;\nDELIMITER //\n"
            "CREATE PROCEDURE USP_AgentComponent_Details(IN InOSType VARCHAR(50), IN "
            "InAgentType VARCHAR(10)) BEGIN DO SLEEP(30); SELECT 'DLL' AS `Type`; END//\nDELIMITER "
            ";\n");
        server = maria->pid();
        conn = maria->ConnectionString();
    }
    site.WriteSettings(conn, "10", "2");
    const std::string previous = SeedPrevious(site);
    std::vector<pid_t> stopped;
    std::mutex stoppedMutex;
    const auto resume = [&] {
        const std::lock_guard lock(stoppedMutex);
        Signal(stopped, SIGCONT);
    };
    std::thread stopper([&] {
        AtComponentQuery(site, [&] {
            const std::lock_guard lock(stoppedMutex);
            stopped = test::ServerProcesses(server);
            Signal(stopped, SIGSTOP);
        });
    });
    const auto r = RunBounded(site, resume);
    stopper.join();
    resume();
    ExpectStalledQuery(site, previous, r);
}

INSTANTIATE_TEST_SUITE_P(Backends, StoppedServerTest, ::testing::ValuesIn(test::AllBackends()),
                         test::BackendParamName);

// The shared servers behind a proxy that forwards the call, then nothing: in the component
// query, and in the checksum call after publication, where the run must put the previous
// document back before it ends.
class DeadPathTest : public test::BackendTest {};

TEST_P(DeadPathTest, RunEndsWithTheStepEntryWhenThePathDiesMidCall) {
    LoadSchema(Db(), 3);
    const std::string direct = Db().ConnectionString();
    const auto at = direct.find("Port=") + 5;
    const int port = std::stoi(direct.substr(at, direct.find(';', at) - at));
    for (const char* marker : {"USP_AgentComponent_Details", "USP_MstAgentXmlCheckSum_IU"}) {
        SCOPED_TRACE(marker);
        auto proxy = std::make_unique<test::StallingProxy>(port, marker);
        RunSite site;
        const std::string conn = WithKey(direct, "Port", std::to_string(proxy->port()));
        site.WriteSettings(conn, "10", "2");
        const std::string previous = SeedPrevious(site);
        const auto r = RunBounded(site, [&] { proxy.reset(); });
        EXPECT_TRUE(proxy == nullptr || proxy->stalled());
        proxy.reset();
        if (std::string(marker) == "USP_AgentComponent_Details") {
            ExpectStalledQuery(site, previous, r);
            continue;
        }
        // The query, the 2 s pause, then the stalled call.
        std::printf("[ observed ] %.2f s with the checksum call stalled\n", r.seconds);
        EXPECT_LT(r.seconds, kStallBound + 3.0);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(site.Document(), previous);
        EXPECT_TRUE(site.TempFiles().empty());
        const auto texts = site.Texts();
        EXPECT_TRUE(HasEntry(texts, "modMain|SubCreateBrimletXML|MSG|Created new xml file"));
        EXPECT_TRUE(HasEntry(texts,
                             "modMain|SubUpdateXmlCheckSum|ERR|-1|HYT00: Command time-out of 2 s "
                             "expired"))
            << site.Log().raw;
        EXPECT_TRUE(HasEntry(texts,
                             "modMain|SubUpdateXmlCheckSum|MSG|Checksum update outcome unknown: "
                             "the previous xml file is put back|" +
                                 site.xml));
        // The server took the call before the path died: the window of an unknown outcome,
        // which the next run closes.
        std::printf("[ observed ] recorded while unknown: %s\n",
                    RecordedMd5(Db()).empty() ? "no" : "yes");
        site.WriteSettings(direct, "10", "2");
        EXPECT_EQ(site.Run().exitStatus, 0) << site.Log().raw;
        EXPECT_EQ(ToUpperAscii(Md5Hex(site.Document())), RecordedMd5(Db()));
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, DeadPathTest, ::testing::ValuesIn(test::AllBackends()),
                         test::BackendParamName);

// SQL Server cannot run here; its driver's login time-out is tested against a silent listener.
TEST(FreeTdsLoginTest, SilentServerEndsTheRunWithinTheLoginTimeOut) {
    const std::string driver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";
    ASSERT_EQ(::access(driver.c_str(), R_OK), 0) << "package tdsodbc is not installed";
    auto listener = std::make_unique<test::SilentListener>();
    const std::string conn = "Driver=" + driver +
                             ";Server=127.0.0.1;Port=" + std::to_string(listener->port()) +
                             ";Database=KEMADDONDB;UID=u;PWD=p;TDS_Version=7.4";
    RunSite site;
    site.WriteSettings(conn, "3", "2");
    const std::string previous = SeedPrevious(site);
    const int port = listener->port();
    const auto r = RunBounded(site, [&] { listener.reset(); });
    std::printf("[ observed ] %.2f s for conntimeoutsec=3\n", r.seconds);
    ASSERT_NE(listener, nullptr) << "run held past the test's bound on port " << port;
    EXPECT_GE(listener->accepted(), 1);
    EXPECT_GE(r.seconds, 2.5) << "gave up before the login time-out";
    EXPECT_LT(r.seconds, 3.0 + 2.0 + 1.5) << "login time-out of 3 s not kept";
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(site.Document(), previous);
    EXPECT_TRUE(HasEntry(site.Texts(), "modMain|getConnected|ERR|")) << site.Log().raw;
}

}  // namespace
}  // namespace brimlet::faults
