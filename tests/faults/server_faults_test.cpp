// A PostgreSQL server of this test's own, stopped before a run or killed while a run fetches
// a large result.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "fault_case.h"
#include "support/fault_pg_server.h"

namespace brimlet::faults {
namespace {

using test::Backend;

TEST(ServerFaultTest, StoppedAndKilledServerKeepTheDocument) {
    test::TempDir root;
    test::PrivatePgServer server(root.path());
    server.Start();
    server.ExecScript(test::ReadFile(SqlDir(Backend::Pg) + "/schema.sql"));
    server.ExecScript(test::ReadFile(SqlDir(Backend::Pg) + "/procedures.sql"));
    server.ExecScript(ComponentInserts(Backend::Pg, 100000, "FA", "LNX"));

    // Stopped: the run finds nothing on the port.
    RunSite site;
    site.WriteSettings(server.ConnectionString());
    const std::string previous = SeedPrevious(site);
    server.Stop();
    auto r = site.Run();
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(site.Document(), previous);
    EXPECT_TRUE(HasEntry(site.Texts(), "modMain|OpenConnection|ERR|Could not connect"));

    // Killed: as soon as the run says it queries, the server and its backends die while the
    // query runs (a delay let a fast fetch finish first and the run publish).
    server.Start();
    site.WriteSettings(server.ConnectionString());
    const std::size_t entriesBefore = site.Texts().size();
    std::thread killer([&] {
        for (int i = 0; i < 3000; ++i) {
            const auto texts = site.Texts();
            if (texts.size() > entriesBefore &&
                HasEntry(std::vector<std::string>(texts.begin() + entriesBefore, texts.end()),
                         "modMain|FncCreateXMLString|MSG|Creating File type wise")) {
                server.Kill();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    r = site.Run();
    killer.join();
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_LT(r.seconds, 30.0);
    const auto texts = site.Texts();
    const std::vector<std::string> run(texts.begin() + entriesBefore, texts.end());
    EXPECT_TRUE(HasEntry(run, "modMain|FncCreateXMLString|ERR|")) << site.Log().raw;
    EXPECT_FALSE(HasEntry(run, "modMain|SubCreateBrimletXML|MSG|Created new xml file"));
    EXPECT_EQ(site.Document(), previous);
    EXPECT_TRUE(site.TempFiles().empty());
    EXPECT_EQ(run.back(), "modMain|Main|MSG|END||");
    ExpectCleanLog(site.Log(), server.ConnectionString());
}

}  // namespace
}  // namespace brimlet::faults
