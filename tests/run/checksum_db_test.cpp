// SubUpdateXmlCheckSum on the private PostgreSQL and MariaDB servers, one body for both.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "run/checksum_update.h"
#include "support/md5_stand_in.h"
#include "support/run_log.h"
#include "support/test_db.h"

namespace brimlet::test {
namespace {

// A stand-in procedure with the real one's seven parameters that only sets its status.
std::string StatusProcedure(Backend backend, const std::string& status) {
    if (backend == Backend::Pg) {
        return "CREATE FUNCTION USP_MstAgentXmlCheckSum_IU(a varchar(50), b varchar(100), "
               "c varchar(100), d timestamp, e varchar(500), f varchar(500), "
               "OUT out_status integer) LANGUAGE plpgsql AS $$ BEGIN out_status := " +
               status + "; END $$";
    }
    return "CREATE PROCEDURE USP_MstAgentXmlCheckSum_IU(IN a VARCHAR(50), IN b VARCHAR(100), "
           "IN c VARCHAR(100), IN d DATETIME, IN e VARCHAR(500), IN f VARCHAR(500), "
           "OUT s INT) BEGIN SET s = " +
           status + "; END";
}

// The document put in place as SubCreateBrimletXML leaves it: under the lock, the earlier
// document (if any) kept, the new bytes renamed over the path, their MD5 as written.
void PutInPlace(RunContext& ctx, const std::string& bytes) {
    ctx.publication = std::make_shared<Publication>(ctx.xmlPath);
    ASSERT_EQ(ctx.publication->lock().Acquire(ctx.xmlPath, std::chrono::milliseconds(0),
                                              [] { return false; }),
              DocumentLock::Result::Acquired);
    ctx.publication->KeepPrevious();
    WriteFile(ctx.xmlPath + ".new", bytes);
    std::filesystem::rename(ctx.xmlPath + ".new", ctx.xmlPath);
    ctx.publication->MarkReplaced();
    ctx.published = true;
    ctx.writtenMd5 = Md5Hex(bytes);
}

// Local time of a "YYYY-MM-DD HH:MM:SS" text as the servers print timestamps.
std::time_t ParseLocal(const std::string& text) {
    std::tm tm{};
    std::istringstream in(text);
    if (!(in >> std::get_time(&tm, "%Y-%m-%d %H:%M:%S"))) {
        ADD_FAILURE() << "not a timestamp: " << text;
        return 0;
    }
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

class ChecksumUpdateTest : public BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        m_ctx.agentType = "AGT";
        m_ctx.osType = "OS";
        m_ctx.purl = "https://p.example/dl";
        m_ctx.surl = "https://s.example/dl";
        m_ctx.cmdTimeoutSec = SecondsSetting("30");
        m_ctx.xmlPath = m_dir / "Brimlet_AGT_OS.xml";
        WriteFile(m_ctx.xmlPath, "encrypted document");
        m_ctx.published = true;  // as SubCreateBrimletXML leaves it
        m_ctx.writtenMd5 = Md5Hex("encrypted document");
        m_ctx.connection = std::make_unique<db::Connection>();
        m_ctx.connection->SetConnectionString(Db().ConnectionString());
        m_ctx.connection->SetConnectionTimeout(10);
        m_ctx.connection->SetCommandTimeout(30);
        m_ctx.connection->Open();
    }
    void TearDown() override {
        m_ctx.connection.reset();
        BackendTest::TearDown();
    }
    void LoadRealProcedure() {
        Db().ExecFile(SqlDir(backend()) + "/schema.sql");
        Db().ExecFile(SqlDir(backend()) + "/procedures.sql");
    }
    // Entries of SubUpdateXmlCheckSum only, as (type, val1, val2, val3).
    std::vector<std::vector<std::string>> UpdateEntries() {
        std::vector<std::vector<std::string>> out;
        for (const LogRow& r : m_run.Rows()) {
            if (r.function == "SubUpdateXmlCheckSum") {
                out.push_back({r.type, r.val1, r.val2, r.val3});
            }
        }
        return out;
    }
    std::vector<std::string> Start() const {
        return {"MSG", "Updating Checksum of " + m_ctx.xmlPath + " in the database...", "", ""};
    }

    LoggedRun m_run;
    TempDir& m_dir = m_run.dir;
    RunContext& m_ctx = m_run.ctx;
    Md5Library m_lib{m_dir.path()};
};

// A message that merely quotes a state decides nothing; the diagnostic's own state does.
TEST(ChecksumOutcome, OnlyTheStateOfTheFailureMakesTheOutcomeUnknown) {
    EXPECT_TRUE(OutcomeUnknown(Failure(-1, "08S01", "", "08S01: link failure")));
    EXPECT_TRUE(OutcomeUnknown(Failure(-1, "HYT00", "", "HYT00: timeout expired")));
    EXPECT_FALSE(OutcomeUnknown(Failure(-1, "42000", "", "42000: no such table t08003")));
    EXPECT_FALSE(OutcomeUnknown(Failure(-1, "HYT00 message without a state")));
}

TEST_P(ChecksumUpdateTest, StatusOneRecordsChecksumDateAndUrls) {
    LoadRealProcedure();
#ifdef _WIN32
    // A site's own DLL in the Automation shapes (tests/support/variant_md5): its answer, with
    // blanks and in lower case, from the whole-file call or from the block-wise one.
    const char* libraries[] = {REAL_MD5_LIBRARY, VARIANT_MD5_MD5, VARIANT_MD5_BLOCKS};
#else
    const char* libraries[] = {REAL_MD5_LIBRARY};
#endif
    for (const char* library : libraries) {
        SCOPED_TRACE(library);
        InstallMd5Library(library, m_dir.path());
        Md5Library lib(m_dir.path());
        m_ctx.checksumAccepted = false;
        const std::time_t before = std::time(nullptr);
        SubUpdateXmlCheckSum(m_ctx, lib);
        const std::time_t after = std::time(nullptr);

        const std::vector<std::vector<std::string>> expected{
            Start(), {"MSG", "Checksum updated in the database", "", ""}};
        const auto entries = UpdateEntries();
        ASSERT_GE(entries.size(), 2u);
        EXPECT_EQ(std::vector<std::vector<std::string>>(entries.end() - 2, entries.end()),
                  expected);
        EXPECT_TRUE(m_ctx.checksumAccepted);
        EXPECT_EQ(m_ctx.log.errEntries, 0);

        const auto rows = Db().Query(
            "SELECT md5_string, release_date, download_url, secondary_url "
            "FROM mst_agent_xml_checksum WHERE agent_type = 'AGT' AND os = 'OS'");
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][0], ToUpperAscii(Md5sumOf(m_ctx.xmlPath)));
        ASSERT_TRUE(rows[0][1].has_value());
        const std::time_t released = ParseLocal(rows[0][1]->substr(0, 19));
        EXPECT_GE(released, before - 1);
        EXPECT_LE(released, after + 1);
        EXPECT_EQ(rows[0][2], "https://p.example/dl");
        EXPECT_EQ(rows[0][3], "https://s.example/dl");
        Db().Exec("DELETE FROM mst_agent_xml_checksum");
    }
}

// An empty checksum would describe no document: it never reaches the database.
TEST_P(ChecksumUpdateTest, MissingLibraryNeverSendsAnEmptyChecksum) {
    LoadRealProcedure();
    SubUpdateXmlCheckSum(m_ctx, m_lib);
    EXPECT_EQ(UpdateEntries().back(), Start());
    EXPECT_FALSE(m_ctx.checksumAccepted);
    EXPECT_EQ(Db().QueryValue("SELECT COUNT(*) FROM mst_agent_xml_checksum"), "0");
}

TEST_P(ChecksumUpdateTest, AnyStatusButOneIsAFailedUpdate) {
    InstallMd5Library(REAL_MD5_LIBRARY, m_dir.path());
    for (const char* status : {"0", "2", "NULL"}) {
        SCOPED_TRACE(status);
        if (backend() == Backend::Pg) {
            Db().Exec(
                "DROP FUNCTION IF EXISTS USP_MstAgentXmlCheckSum_IU(varchar, varchar, varchar, "
                "timestamp, varchar, varchar)");
        } else {
            Db().Exec("DROP PROCEDURE IF EXISTS USP_MstAgentXmlCheckSum_IU");
        }
        Db().Exec(StatusProcedure(backend(), status));
        SubUpdateXmlCheckSum(m_ctx, m_lib);
        EXPECT_EQ(
            UpdateEntries().back(),
            (std::vector<std::string>{"MSG", "Failed to update Checksum in the database", "", ""}));
        EXPECT_FALSE(m_ctx.checksumAccepted);
    }
    EXPECT_EQ(m_ctx.log.errEntries, 0);
}

TEST_P(ChecksumUpdateTest, FailingExecutionIsAnErrorOfStep180) {
    InstallMd5Library(REAL_MD5_LIBRARY, m_dir.path());
    SubUpdateXmlCheckSum(m_ctx, m_lib);  // no procedure in this database
    const auto entries = UpdateEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], Start());
    EXPECT_EQ(entries[1][0], "ERR");
    EXPECT_NE(entries[1][1], "");
    EXPECT_NE(entries[1][1], "0");
    EXPECT_NE(ToLowerAscii(entries[1][2]).find("usp_mstagentxmlchecksum_iu"), std::string::npos)
        << entries[1][2];
    EXPECT_EQ(entries[1][3], "180");
    EXPECT_FALSE(m_ctx.checksumAccepted);
}

TEST_P(ChecksumUpdateTest, TimeOutTextThatDoesNotConvertIsAnErrorOfStep100) {
    LoadRealProcedure();
    InstallMd5Library(REAL_MD5_LIBRARY, m_dir.path());
    for (const char* timeout : {"abc", "", "1e3", "99999999999"}) {
        SCOPED_TRACE(timeout);
        m_ctx.cmdTimeoutSec = SecondsSetting(timeout);
        SubUpdateXmlCheckSum(m_ctx, m_lib);
        const auto entries = UpdateEntries();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.back()[0], "ERR");
        EXPECT_EQ(entries.back()[3], "100");
    }
    EXPECT_EQ(Db().QueryValue("SELECT COUNT(*) FROM mst_agent_xml_checksum"), "0");
}

// MariaDB's SLEEP swallows the cancel: the procedure goes on, commits and reports 1 after the
// time-out, before the run's hard end. That is a record made: the document stays, served and
// recorded agree, and the time-out is still reported.
TEST_P(ChecksumUpdateTest, LateSuccessKeepsTheDocumentAndIsStillATimeOut) {
    if (backend() == Backend::Pg) {
        GTEST_SKIP() << "psqlODBC ends the call at its time-out itself: no late success";
    }
    LoadRealProcedure();
    std::string text = ReadFile(SqlDir(backend()) + "/procedures.sql");
    const std::string anchor = "    SET OutStatus = 0;\n";
    const auto at = text.find(anchor);
    ASSERT_NE(at, std::string::npos);
    // The cancel (at 1.5 s) ends the first sleep; the second puts the return well after the
    // cancel, before the hard end at 3 s. A return at the cancel's very moment can come back
    // as a function sequence error of the driver manager: an outcome unknown.
    text.insert(at + anchor.size(), "    DO SLEEP(2);\n    DO SLEEP(0.5);\n");
    Db().Exec("DROP PROCEDURE USP_AgentComponent_Details");
    Db().Exec("DROP PROCEDURE USP_MstAgentXmlCheckSum_IU");
    Db().ExecScript(text);
    InstallMd5Library(REAL_MD5_LIBRARY, m_dir.path());
    m_ctx.cmdTimeoutSec = SecondsSetting("1");
    PutInPlace(m_ctx, "the run's document");

    const auto start = std::chrono::steady_clock::now();
    SubUpdateXmlCheckSum(m_ctx, m_lib);
    std::printf("[ observed ] late success after %.2f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());

    const std::vector<std::vector<std::string>> expected{
        Start(),
        {"MSG", "Checksum updated in the database", "", ""},
        {"ERR", "-1",
         "HYT00: Command time-out of 1 s expired; the call returned only after it was cancelled",
         "180"}};
    EXPECT_EQ(UpdateEntries(), expected);
    EXPECT_TRUE(m_ctx.checksumAccepted);
    EXPECT_EQ(m_ctx.log.errEntries, 1);  // the run's status is 1
    EXPECT_FALSE(m_ctx.publication->RolledBack());
    EXPECT_EQ(ReadFile(m_ctx.xmlPath), "the run's document");
    EXPECT_EQ(Db().QueryValue("SELECT md5_string FROM mst_agent_xml_checksum"),
              ToUpperAscii(Md5sumOf(m_ctx.xmlPath)));
}

INSTANTIATE_TEST_SUITE_P(Backends, ChecksumUpdateTest, ::testing::ValuesIn(AllBackends()),
                         BackendParamName);

// No database is needed: a missing document must not reach it (no connection is set, so any
// attempt would log an error).
TEST(ChecksumUpdate, MissingOrNonPlainDocumentIsFileNotFound) {
    LoggedRun run;
    auto& [dir, ctx] = run;
    ctx.cmdTimeoutSec = SecondsSetting("30");
    Md5Library lib(dir.path());
    ASSERT_TRUE(std::filesystem::create_directory(dir / "adir"));
    ctx.noData = true;  // the document was removed for want of rows
    for (const std::string& path : {dir / "missing.xml", dir / "adir", std::string()}) {
        ctx.xmlPath = path;
        SubUpdateXmlCheckSum(ctx, lib);
    }
    std::vector<std::vector<std::string>> entries;
    for (const LogRow& r : run.Rows()) {
        EXPECT_EQ(r.function, "SubUpdateXmlCheckSum");
        entries.push_back({r.type, r.val1, r.val2, r.val3});
    }
    const auto start = [](const std::string& p) {
        return std::vector<std::string>{"MSG", "Updating Checksum of " + p + " in the database...",
                                        "", ""};
    };
    const auto missing = [](const std::string& p) {
        return std::vector<std::string>{"MSG", "File not found", p, ""};
    };
    EXPECT_EQ(entries, (std::vector<std::vector<std::string>>{
                           start(dir / "missing.xml"), missing(dir / "missing.xml"),
                           start(dir / "adir"), missing(dir / "adir"), start(""), missing("")}));
    EXPECT_FALSE(ctx.checksumAccepted);
}

// A run that published nothing new: neither hashed (no library here would be an ERR entry)
// nor recorded (no connection would be one), whatever is at the path.
TEST(ChecksumUpdate, RunThatPublishedNothingLeavesTheRecordedChecksumAlone) {
    LoggedRun run;
    auto& [dir, ctx] = run;
    ctx.cmdTimeoutSec = SecondsSetting("30");
    Md5Library lib(dir.path());
    ctx.xmlPath = dir / "Brimlet_AGT_OS.xml";
    WriteFile(ctx.xmlPath, "the document served before");
    SubUpdateXmlCheckSum(ctx, lib);
    std::vector<std::vector<std::string>> entries;
    for (const LogRow& r : run.Rows()) {
        entries.push_back({r.function, r.type, r.val1, r.val2, r.val3});
    }
    EXPECT_EQ(entries, (std::vector<std::vector<std::string>>{
                           {"SubUpdateXmlCheckSum", "MSG",
                            "Checksum not updated in the database: no new xml file was published",
                            ctx.xmlPath, ""}}));
    EXPECT_EQ(ctx.log.errEntries, 0);
    EXPECT_EQ(lib.LoadedFrom(), "");
    EXPECT_FALSE(ctx.checksumAccepted);
}

// A file that is not the one the run wrote, put there between its write and its hash, is
// not vouched for: the database is not called (no connection is set: a call would be a second
// ERR entry), and the directory entry goes back as the run found it, never through the link.
TEST(ChecksumUpdate, FileThatIsNotTheRunsIsNotRecordedAndTheEntryGoesBack) {
    // A symlink where there was no earlier document: the link goes, its target stays.
    for (const bool symlink : {false, true}) {
        SCOPED_TRACE(symlink ? "symlink to a file elsewhere" : "another file renamed over it");
#ifdef _WIN32
        if (symlink) {
            continue;  // symbolic links need a privilege that Wine's accounts lack
        }
#endif
        const bool previous = !symlink;
        LoggedRun run;
        auto& [dir, ctx] = run;
        ctx.cmdTimeoutSec = SecondsSetting("30");
        InstallMd5Library(REAL_MD5_LIBRARY, dir.path());
        Md5Library lib(dir.path());
        ctx.xmlPath = dir / "Brimlet_AGT_OS.xml";
        if (previous) {
            WriteFile(ctx.xmlPath, "the document served before");
        }
        PutInPlace(ctx, "the run's document");
        const std::string forged = dir / "elsewhere.xml";
        WriteFile(forged, "a forged document");
        if (symlink) {
            std::filesystem::remove(ctx.xmlPath);
            std::filesystem::create_symlink(forged, ctx.xmlPath);
        } else {
            std::filesystem::rename(forged, ctx.xmlPath);
        }

        SubUpdateXmlCheckSum(ctx, lib);
        std::vector<LogRow> errs;
        for (const LogRow& r : run.Rows()) {
            if (r.type == "ERR") {
                errs.push_back(r);
            }
        }
        ASSERT_EQ(errs.size(), 1u);
        EXPECT_EQ(errs[0].function, "SubUpdateXmlCheckSum");
        EXPECT_EQ(
            errs[0].val2.rfind("The file at " + ctx.xmlPath + " is not the one this run wrote", 0),
            0u)
            << errs[0].val2;
        EXPECT_EQ(errs[0].val3, "40");
        EXPECT_FALSE(ctx.checksumAccepted);
        EXPECT_EQ(run.Rows().back().val1, std::string("Checksum not updated in the database: ") +
                                              (previous ? "the previous xml file is put back"
                                                        : "the new xml file is removed"));
        const auto entry = std::filesystem::symlink_status(ctx.xmlPath);
        if (previous) {
            EXPECT_TRUE(std::filesystem::is_regular_file(entry));
            EXPECT_EQ(ReadFile(ctx.xmlPath), "the document served before");
        } else {
            EXPECT_FALSE(std::filesystem::exists(entry));
        }
        if (symlink) {
            EXPECT_EQ(ReadFile(forged), "a forged document");
        }
    }
}

}  // namespace
}  // namespace brimlet::test
