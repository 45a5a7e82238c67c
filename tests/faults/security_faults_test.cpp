// Values from the executable name, the settings and the database are bound, never spliced
// into SQL; the connection string never reaches the log.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cipher/cipher.h"
#include "fault_case.h"

namespace brimlet::faults {
namespace {

using test::Backend;

class SecurityFaultTest : public test::BackendTest {};

TEST_P(SecurityFaultTest, SqlInNamesSettingsAndRowsStaysPlainValues) {
    // Agent and OS come from the link's name, so they hold no "_" and no "/".
    const std::string agent = "'OR 1=1--";
    const std::string os = "x'); DROP TABLE victim; --";
    LoadSchema(Db(), 0);
    Db().Exec("CREATE TABLE victim (id INT)");
    Db().Exec(ComponentInserts(backend(), 2, agent, os));
    Db().Exec(ComponentInserts(backend(), 5, "OTHER", os));  // matched only by an injection
    Db().Exec("UPDATE mst_agent_component SET name = 'n''; DROP TABLE victim; --'");
    RunSite site("pub_" + agent + "_" + os, agent, os);
    const std::string purl = "http://p.invalid/'); DROP TABLE victim; --";
    site.WriteSettings(Db().ConnectionString(), "10", "30", {"purl=" + purl});
    const auto r = site.Run();
    EXPECT_EQ(r.exitStatus, 0) << site.Log().raw;
    EXPECT_TRUE(IsCompleteDocument(site.Document(), 2, purl));
    EXPECT_NE(DocumentCipher().Decrypt(site.Document()).find("name=\"n'; DROP TABLE victim; --\""),
              std::string::npos);
    EXPECT_EQ(Db().Query("SELECT id FROM victim").size(), 0u);  // still there
    const auto rows = Db().Query("SELECT agent_type, os, download_url FROM mst_agent_xml_checksum");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], agent);
    EXPECT_EQ(rows[0][1], os);
    EXPECT_EQ(rows[0][2], purl);
    ExpectCleanLog(site.Log(), Db().ConnectionString());
}

TEST_P(SecurityFaultTest, PasswordNeverReachesTheLog) {
    LoadSchema(Db(), 3);
    const std::string suffix = Db().Name().substr(Db().Name().size() - 8);
    const std::string marker = std::string("Mk7").append(suffix).append("Pw");
    const std::string user = std::string("u").append(suffix);
    if (backend() == Backend::Pg) {
        Db().Exec("CREATE ROLE " + user + " LOGIN SUPERUSER PASSWORD '" + marker + "'");
    } else {
        Db().Exec("CREATE USER '" + user + "'@'127.0.0.1' IDENTIFIED BY '" + marker + "'");
        Db().Exec("GRANT ALL ON " + Db().Name() + ".* TO '" + user + "'@'127.0.0.1'");
    }
    RunSite site;
    const std::string good = WithKey(WithKey(Db().ConnectionString(), "Uid", user), "Pwd", marker);
    site.WriteSettings(good);
    EXPECT_EQ(site.Run().exitStatus, 0) << site.Log().raw;
    const std::string bad = WithKey(good, "Pwd", marker + "x");
    // An unclosed brace: the driver manager echoes the rest of the string, password included.
    std::string unclosed = good;
    unclosed.replace(unclosed.find("Driver="), 7, "Driver={");
    ASSERT_EQ(::mkdir((site.dir / "prom").c_str(), 0755), 0);
    for (const std::string& conn : {bad, unclosed}) {
        SCOPED_TRACE(conn);
        site.WriteSettings(conn, "10", "30", {"metricsdir=prom"});
        const auto r = site.Run();
        EXPECT_EQ(r.exitStatus, 1);
        const auto log = site.Log();
        EXPECT_TRUE(HasEntry(test::EntryTexts(log), "modMain|getConnected|ERR|"));
        EXPECT_EQ(log.raw.find(marker), std::string::npos) << log.raw;
        EXPECT_EQ(r.err.find(marker), std::string::npos) << r.err;
        const std::string metrics = test::ReadFile(site.dir / "prom/brimlet_pub_FA_LNX.prom");
        EXPECT_EQ(metrics.find(marker), std::string::npos) << metrics;
        ExpectCleanLog(log, good);
        ExpectCleanLog(log, conn);
        if (conn == unclosed) {  // echoed, and hidden where it was
            EXPECT_NE(log.raw.find("Pwd=***"), std::string::npos) << log.raw;
        }
    }
    if (backend() == Backend::Pg) {
        Db().Exec("DROP ROLE " + user);
    } else {
        Db().Exec("DROP USER '" + user + "'@'127.0.0.1'");
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, SecurityFaultTest, ::testing::ValuesIn(test::AllBackends()),
                         test::BackendParamName);

}  // namespace
}  // namespace brimlet::faults
