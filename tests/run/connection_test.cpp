// Opening and closing the run's connection against the private servers.
#include "run/connection_procs.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/run_log.h"
#include "support/test_db.h"

namespace brimlet {
namespace {

using test::BackendTest;
using test::LoggedRun;
using test::WriteIni;

// Replaces "Pwd=..." in a connection string.
std::string WithPassword(const std::string& conn, const std::string& pwd) {
    return std::regex_replace(conn, std::regex("Pwd=[^;]*", std::regex::icase), "Pwd=" + pwd);
}
std::string WithPort(const std::string& conn, int port) {
    return std::regex_replace(conn, std::regex("Port=[0-9]+", std::regex::icase),
                              "Port=" + std::to_string(port));
}

void Configure(LoggedRun& run, const std::string& conn,
               const std::vector<std::string>& overrides = {}) {
    std::vector<std::string> lines = {"KEMADDONDBstr=" + conn, "conntimeoutsec=5",
                                      "cmdtimeoutsec=5",       "purl=http://p/",
                                      "surl=http://s/",        "srvpath=" + run.dir.path()};
    for (const auto& o : overrides) {
        const std::string key = o.substr(0, o.find('='));
        std::erase_if(lines, [&](const std::string& l) { return l.rfind(key + "=", 0) == 0; });
        if (o.find('=') != o.size() - 1) {
            lines.push_back(o);
        }
    }
    WriteIni(run.dir.path(), lines);
    run.ctx.iniPath = run.dir / "Ini/dbstring.Ini";
}

class ConnectionTest : public BackendTest {
  protected:
    void Configure(const std::string& conn, const std::vector<std::string>& overrides = {}) {
        brimlet::Configure(run, conn, overrides);
    }
    LoggedRun run;
};

TEST_P(ConnectionTest, OpensAndClosesWithoutAnyEntry) {
    Configure(Db().ConnectionString());
    ASSERT_TRUE(OpenConnection(run.ctx));
    ASSERT_TRUE(run.ctx.connection);
    EXPECT_TRUE(run.ctx.connection->IsOpen());
    CloseConnection(run.ctx);
    EXPECT_FALSE(run.ctx.connection);
    CloseConnection(run.ctx);  // nothing left: still no failure
    EXPECT_TRUE(run.Entries().empty());
}

// Every way the login can fail is step 70, the connection string (here its password) never
// logged; the object stays until CloseConnection releases it.
TEST_P(ConnectionTest, FailedLoginIsStep70AndNeverLogsTheConnectionString) {
    const std::string marker = "Marker7f3c9e1b";
    struct Case {
        const char* what;
        std::string conn;
        std::string firstEntry;  // a pattern
    };
    const std::string step70 = R"(modMain\|getConnected\|ERR\|-?\d+\|.+\|70)";
    const Case cases[] = {
        {"refused login", WithPassword(Db().ConnectionString(), marker), step70},
        {"port without listener", WithPort(WithPassword(Db().ConnectionString(), marker), 1),
         step70},
        {"driver not installed", "Driver=No Such Driver 9;Server=127.0.0.1;Pwd=" + marker,
         R"(modMain\|getConnected\|ERR\|-?\d+\|.*\[Driver Manager\].*\|70)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LoggedRun fresh;
        brimlet::Configure(fresh, c.conn);
        EXPECT_FALSE(OpenConnection(fresh.ctx));
        const auto entries = fresh.Entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_TRUE(std::regex_match(entries[0], std::regex(c.firstEntry))) << entries[0];
        EXPECT_EQ(entries[1],
                  "modMain|OpenConnection|ERR|Could not connect to KEMADDONDB Database||");
        EXPECT_EQ(fresh.Raw().find(marker), std::string::npos);
        EXPECT_TRUE(fresh.ctx.connection);
        CloseConnection(fresh.ctx);
        EXPECT_EQ(fresh.Entries().size(), 2u);
    }
}

TEST_P(ConnectionTest, TimeOutTextsThatDoNotConvertFailBeforeTheServerIsContacted) {
    struct Case {
        std::string override;
        int step;
    };
    // Port 1 has no listener: reaching Open would fail differently, at step 70.
    for (const Case& c : {Case{"conntimeoutsec=", 40}, Case{"conntimeoutsec=abc", 40},
                          Case{"cmdtimeoutsec=", 50}, Case{"cmdtimeoutsec=1e3", 50}}) {
        SCOPED_TRACE(c.override);
        LoggedRun fresh;
        brimlet::Configure(fresh, WithPort(Db().ConnectionString(), 1), {c.override});
        EXPECT_FALSE(OpenConnection(fresh.ctx));
        const auto entries = fresh.Entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0],
                  "modMain|getConnected|ERR|13|Type mismatch|" + std::to_string(c.step));
    }
}

TEST_P(ConnectionTest, RejectedSettingsCreateNoConnectionAndAddNoEntry) {
    Configure(Db().ConnectionString(), {"purl= "});
    EXPECT_FALSE(OpenConnection(run.ctx));
    EXPECT_FALSE(run.ctx.connection);
    EXPECT_EQ(run.Entries(),
              (std::vector<std::string>{
                  "modMain|getConDtls|ERR|-1|DBConnection Data missing for Brimlet|"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, ConnectionTest, ::testing::ValuesIn(test::AllBackends()),
                         test::BackendParamName);

}  // namespace
}  // namespace brimlet
