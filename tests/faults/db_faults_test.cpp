// Database faults on both servers: nothing listening, wrong credentials, a server that never
// answers the login, a procedure that outlasts the command time-out, a checksum procedure
// that fails after publication, a connection lost after publication. Each run keeps the previous
// document or replaces it whole, and the served document is always the recorded one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "fault_case.h"
#include "support/fault_listener.h"

namespace brimlet::faults {
namespace {

using test::Backend;

class DbFaultTest : public test::BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        LoadSchema(Db(), 3);
    }
    bool Pg() const { return backend() == Backend::Pg; }
    std::size_t ChecksumRows() {
        return Db().Query("SELECT md5_string FROM mst_agent_xml_checksum").size();
    }

    RunSite site;
};

// What every failed connection leaves: exit 1, the previous document untouched, no temporary
// file, no checksum recorded, an ERR entry of getConnected and the run's end.
void ExpectNotConnected(const RunSite& site, const std::string& previous,
                        const test::ProcessResult& r, const std::string& conn) {
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(site.Document(), previous);
    EXPECT_TRUE(site.TempFiles().empty());
    const auto texts = site.Texts();
    EXPECT_TRUE(HasEntry(texts, "modMain|getConnected|ERR|")) << site.Log().raw;
    EXPECT_TRUE(
        HasEntry(texts, "modMain|OpenConnection|ERR|Could not connect to KEMADDONDB Database"));
    EXPECT_FALSE(HasEntry(texts, "modMain|SubCreateBrimletXML|"));
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "modMain|Main|MSG|END||");
    ExpectCleanLog(site.Log(), conn);
}

TEST_P(DbFaultTest, NothingListeningOnThePortFailsTheRunAndKeepsTheDocument) {
    const std::string conn =
        WithKey(Db().ConnectionString(), "Port", std::to_string(test::UnusedPort()));
    site.WriteSettings(conn, "5");
    const std::string previous = SeedPrevious(site);
    const auto r = site.Run();
    ExpectNotConnected(site, previous, r, conn);
    EXPECT_LT(r.seconds, 5.0);  // refused at once, no waiting for the time-out
    EXPECT_EQ(ChecksumRows(), 0u);
}

TEST_P(DbFaultTest, WrongPasswordFailsTheRunWithoutLoggingThePassword) {
    const std::string conn = WithKey(Db().ConnectionString(), "Pwd", "Wr0ngSecretMarker7731");
    site.WriteSettings(conn);
    const std::string previous = SeedPrevious(site);
    const auto r = site.Run();
    ExpectNotConnected(site, previous, r, conn);
    EXPECT_EQ(site.Log().raw.find("Wr0ngSecretMarker7731"), std::string::npos);
    EXPECT_EQ(ChecksumRows(), 0u);
}

TEST_P(DbFaultTest, SilentServerEndsTheRunWithinTheLoginTimeOut) {
    test::SilentListener listener;
    const std::string conn =
        WithKey(Db().ConnectionString(), "Port", std::to_string(listener.port()));
    site.WriteSettings(conn, "3");
    const std::string previous = SeedPrevious(site);
    const auto r = site.Run();
    EXPECT_GE(listener.accepted(), 1);
    EXPECT_GE(r.seconds, 2.5) << "gave up before the login time-out";
    EXPECT_LE(r.seconds, 3.0 + 4.0) << "login time-out of 3 s not kept";
    ExpectNotConnected(site, previous, r, conn);
}

// Past its time-out, whether the procedure is still running or returns after the cancel (MariaDB's
// SLEEP swallows the cancel and the procedure goes on to its rows): a time-out either way.
TEST_P(DbFaultTest, ProcedurePastTheCommandTimeOutKeepsTheDocumentAndItsChecksum) {
    for (const int sleep : {30, 3}) {
        SCOPED_TRACE(sleep);
        RunSite run;
        MakeComponentQuerySleep(Db(), backend(), sleep);
        run.WriteSettings(Db().ConnectionString(), "10", "2");
        const std::string previous = SeedPrevious(run);
        const auto r = run.Run();
        // 2 s limit (+0.5 s grace of the layer), the 2 s pause, the checksum, a margin.
        EXPECT_LT(r.seconds, 2.0 + 0.5 + 2.0 + 5.0) << "command time-out not kept";
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(run.Document(), previous);
        EXPECT_TRUE(run.TempFiles().empty());
        const auto texts = run.Texts();
        EXPECT_TRUE(HasEntry(texts, "modMain|FncCreateXMLString|ERR|")) << run.Log().raw;
        if (!Pg()) {  // psqlODBC keeps the limit itself, in its own words
            EXPECT_NE(run.Log().raw.find("HYT00: Command time-out of 2 s expired"),
                      std::string::npos);
        }
        EXPECT_FALSE(HasEntry(texts, "modMain|SubCreateBrimletXML|MSG|Created new xml file"));
        EXPECT_EQ(texts.back(), "modMain|Main|MSG|END||");
        ExpectCleanLog(run.Log(), Db().ConnectionString());
        // Nothing new was published, so nothing is hashed or recorded.
        EXPECT_EQ(ChecksumRows(), 0u);
        EXPECT_EQ(CountEntries(texts, "modMain|SubUpdateXmlCheckSum|"), 1);
        EXPECT_TRUE(HasEntry(texts,
                             "modMain|SubUpdateXmlCheckSum|MSG|Checksum not updated in the "
                             "database: no new xml file was published|" +
                                 run.xml));
        EXPECT_FALSE(HasEntry(texts, "modMain|Checksum|"));
    }
}

// A record that is not made after the document was renamed into place: the previous document
// comes back (or the new one goes), with one entry that says so and whether the database
// may have taken the call.
TEST_P(DbFaultTest, RecordNotMadePutsThePreviousDocumentBack) {
    const struct {
        const char* name;
        bool killInThePause;  // else the procedure fails
        bool previousDocument;
        const char* entry;
    } cases[] = {
        {"connection lost in the pause", true, true,
         "Checksum update outcome unknown: the previous xml file is put back"},
        {"procedure fails, no earlier document", false, false,
         "Checksum not updated in the database: the new xml file is removed"},
        {"procedure fails", false, true,
         "Checksum not updated in the database: the previous xml file is put back"},
    };
    site.WriteSettings(Db().ConnectionString());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.killInThePause) {
            PrefixChecksumProcedure(
                Db(), "RAISE EXCEPTION 'checksum table offline';",
                "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'checksum table offline';");
        }
        ::unlink(site.xml.c_str());
        const std::string previous = c.previousDocument ? SeedPrevious(site) : "";
        ::unlink(test::FindLogFile(site.dir.path()).c_str());
        std::thread killer([&] {
            if (c.killInThePause &&
                site.AwaitEntry("modMain|SubCreateBrimletXML|MSG|Created new xml file")) {
                KillOtherSessions(Db());
            }
        });
        const auto r = site.Run();
        killer.join();
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(site.HasDocument(), c.previousDocument);
        EXPECT_EQ(site.Document(), previous);
        EXPECT_TRUE(site.TempFiles().empty());
        const auto texts = site.Texts();
        EXPECT_TRUE(HasEntry(texts, "modMain|SubCreateBrimletXML|MSG|Created new xml file"));
        EXPECT_TRUE(HasEntry(texts, "modMain|SubUpdateXmlCheckSum|ERR|")) << site.Log().raw;
        EXPECT_EQ(CountEntries(texts, "modMain|SubUpdateXmlCheckSum|MSG|Checksum "), 1);
        EXPECT_TRUE(HasEntry(
            texts, std::string("modMain|SubUpdateXmlCheckSum|MSG|") + c.entry + "|" + site.xml))
            << site.Log().raw;
        EXPECT_EQ(texts.back(), "modMain|Main|MSG|END||");
        EXPECT_EQ(ChecksumRows(), 0u);
        ExpectCleanLog(site.Log(), Db().ConnectionString());
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, DbFaultTest, ::testing::ValuesIn(test::AllBackends()),
                         test::BackendParamName);

}  // namespace
}  // namespace brimlet::faults
