#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"
#include "db/odbc_internal.h"
#include "run/component_query.h"
#include "run/publisher.h"
#include "run/run_sequence.h"
#include "support/fake_clock.h"
#include "support/run_log.h"
#include "support/test_db.h"

namespace brimlet {
namespace {

using test::Backend;

class DocumentDbTest : public test::BackendTest {
  protected:
    void SetUp() override {
        test::BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        const std::string dir = test::SqlDir(backend());
        Db().ExecFile(dir + "/schema.sql");
        Db().ExecFile(dir + "/procedures.sql");
        RunContext& ctx = m_run.ctx;
        ctx.agentType = "AG";
        ctx.osType = "OS";
        ctx.cmdTimeoutSec = SecondsSetting("30");
        ctx.purl = "http://p/?a=1&b=2";
        ctx.surl = "http://s/]]>";
        std::filesystem::create_directory(m_run.dir / "out");
        ctx.xmlPath = m_run.dir / "out/Brimlet_AG_OS.xml";
        ctx.publication = std::make_shared<Publication>(ctx.xmlPath);
        ctx.connection = std::make_unique<db::Connection>();
        ctx.connection->SetConnectionString(Db().ConnectionString());
        ctx.connection->SetCommandTimeout(30);
        ctx.connection->Open();
    }

    // One component row of agent type AG on OS, each value an SQL expression.
    void Insert(const std::string& type, const std::string& name,
                const std::string& rest =
                    "'p', 'm', 'A', '3.4', "
                    "'1.2', 'd', 'c', TRUE") {
        Db().Exec(
            "INSERT INTO mst_agent_component (agent_type, os_type, type, name, filepath, "
            "md5_value, state, agent_version, binary_version, description, dependencychk, "
            "is_reg_required) VALUES ('AG', 'os', " +
            type + ", " + name + ", " + rest + ")");
    }

    std::string Chr(int code) const {
        return backend() == Backend::Pg ? "chr(" + std::to_string(code) + ")"
                                        : "CHAR(" + std::to_string(code) + " USING utf8mb4)";
    }

    // The body CreateXmlBody produces, written whole; empty text when it produces none.
    std::string Body() {
        ComponentBody produced = CreateXmlBody(m_run.ctx);
        std::string body;
        if (produced.Status() == BodyStatus::Rows) {
            try {
                produced.WriteTo([&body](std::string_view piece) { body.append(piece); }, [] {});
            } catch (const BodyAbandoned&) {
                return {};
            }
        }
        return body;
    }

    test::LoggedRun m_run;
};

const std::string kStart = "modMain|FncCreateXMLString|MSG|Creating File type wise xml string...||";

TEST_P(DocumentDbTest, DocumentedRowGivesTheDocumentedBody) {
    Insert("' DLL'", "'a.dll'", "'bin', 'm', 'A', '3.4', '1.2', 'd', 'c', TRUE");
    m_run.ctx.agentType = "ag";  // matching ignores letter case
    m_run.ctx.osType = "oS";
    EXPECT_EQ(Body(),
              "<dllfiles><dll name=\"a.dll\" version=\"1.2\" agentversion=\"3.4\" state=\"A\" "
              "path=\"bin\" isregrequired=\"1\"><md5checksum><![CDATA[m]]></md5checksum>"
              "<description><![CDATA[d]]></description><dependencychk><![CDATA[c]]>"
              "</dependencychk></dll></dllfiles>");
    // A failure of the sink is the caller's to report: it passes through, with no entry here.
    ComponentBody body = CreateXmlBody(m_run.ctx);
    EXPECT_THROW(body.WriteTo([](std::string_view) { throw Failure(28, "disk full"); }, [] {}),
                 Failure);
    EXPECT_EQ(m_run.Entries(), (std::vector<std::string>{kStart, kStart}));
}

TEST_P(DocumentDbTest, RowsGroupByTypeKeyAndNullsReadAsEmpty) {
    Insert("'DLL'", "'1'", "NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL");
    Insert("'exe'", "'2'", "'p', 'm', 'A', '3.4', '1.2', 'd', 'c', FALSE");
    Insert("' dll'", "'3'");
    Insert("NULL", "'typeless'");
    Insert("'my dll'", "'spaced'");
    Insert("'dll '", "NULL");
    Insert("CONCAT('dll', CHR(9))", "'tabbed'");  // shown as written, not as "dll "
    const std::string body = Body();
    const std::string empty =
        "\" version=\"\" agentversion=\"\" state=\"\" path=\"\" isregrequired=\"0\">"
        "<md5checksum><![CDATA[]]></md5checksum><description><![CDATA[]]></description>"
        "<dependencychk><![CDATA[]]></dependencychk>";
    const std::string full =
        "\" version=\"1.2\" agentversion=\"3.4\" state=\"A\" path=\"p\" "
        "isregrequired=\"X\"><md5checksum><![CDATA[m]]></md5checksum>"
        "<description><![CDATA[d]]></description><dependencychk>"
        "<![CDATA[c]]></dependencychk>";
    auto withFlag = [&](char flag) {
        std::string s = full;
        s[s.find('X')] = flag;
        return s;
    };
    EXPECT_EQ(body, "<dllfiles><dll name=\"1" + empty + "</dll><dll name=\"3" + withFlag('1') +
                        "</dll><dll name=\"" + withFlag('1') +
                        "</dll></dllfiles><exefiles><exe name=\"2" + withFlag('0') +
                        "</exe></exefiles>");
    const auto entries = m_run.Entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1],
              "modMain|FncCreateXMLString|ERR|-1|Component type is not a valid XML name, row "
              "left out (Type \"\", Name \"typeless\")|160");
    EXPECT_EQ(entries[2],
              "modMain|FncCreateXMLString|ERR|-1|Component type is not a valid XML name, row "
              "left out (Type \"my dll\", Name \"spaced\")|160");
    EXPECT_EQ(entries[3],
              "modMain|FncCreateXMLString|ERR|-1|Component type is not a valid XML name, row "
              "left out (Type \"dll\\t\", Name \"tabbed\")|160");
}

TEST_P(DocumentDbTest, OnlyUnusableTypesKeepTheOldDocumentAndSaySo) {
    Insert("'  '", "'blank'");
    Insert("'9x'", "'digit'");
    test::WriteFile(m_run.ctx.xmlPath, "old\r\n");
    SubCreateBrimletXML(m_run.ctx);
    EXPECT_EQ(test::ReadFile(m_run.ctx.xmlPath), "old\r\n");
    EXPECT_FALSE(m_run.ctx.published);
    EXPECT_FALSE(m_run.ctx.noData);
    const auto entries = m_run.Entries();
    ASSERT_EQ(entries.size(), 5u);  // start entries, the two rows' entries, the closing one
    EXPECT_EQ(entries[4],
              "modMain|SubCreateBrimletXML|ERR|-1|No xml file written: no row has a usable "
              "component type; the old document is kept|80");
    EXPECT_EQ(CreateXmlBody(m_run.ctx).Status(), BodyStatus::NoUsableRows);
}

TEST_P(DocumentDbTest, RowsLeftOutBeyondTheTwentiethAreCountedInOneEntry) {
    Db().Exec(
        "INSERT INTO mst_agent_component (agent_type, os_type, type, name, filepath, md5_value, "
        "state, agent_version, binary_version, description, dependencychk, is_reg_required) "
        "WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 100) "
        "SELECT 'AG', 'OS', '9x', CONCAT('b', n), 'p', 'm', 'A', '3.4', '1.2', 'd', 'c', TRUE "
        "FROM s");
    Insert("'dll'", "'good'");
    const std::string body = Body();
    EXPECT_NE(body.find("<dll name=\"good\""), std::string::npos) << body;
    const auto entries = m_run.Entries();
    ASSERT_EQ(entries.size(), 1u + 20u + 1u);
    for (int i = 1; i <= 20; ++i) {
        EXPECT_EQ(entries[i],
                  "modMain|FncCreateXMLString|ERR|-1|Component type is not a valid XML name, row "
                  "left out (Type \"9x\", Name \"b" +
                      std::to_string(i) + "\")|160");
    }
    EXPECT_EQ(entries[21],
              "modMain|FncCreateXMLString|ERR|-1|80 further rows with a type that is not a valid "
              "XML name left out|160");
}

// A text column where the flag belongs: MariaDB passes whatever the procedure selects.
TEST_P(DocumentDbTest, FlagThatIsNotABooleanFailsAtItsOwnStep) {
    if (backend() == Backend::Pg) {
        GTEST_SKIP() << "the PostgreSQL function returns a typed boolean column";
    }
    Db().Exec("DROP PROCEDURE USP_AgentComponent_Details");
    Db().Exec(
        "CREATE PROCEDURE USP_AgentComponent_Details(IN a VARCHAR(50), IN b VARCHAR(10)) "
        "BEGIN SELECT 'dll' AS `Type`, 'a.dll' AS `Name`, 'p' AS `filepath`, 'm' AS `MD5Value`, "
        "'A' AS `State`, '3.4' AS `AgentVersion`, '1.2' AS `BinaryVersion`, 'd' AS "
        "`Description`, 'c' AS `dependencychk`, 'maybe' AS `IsRegRequired`; END");
    test::WriteFile(m_run.ctx.xmlPath, "old\r\n");
    SubCreateBrimletXML(m_run.ctx);
    EXPECT_EQ(test::ReadFile(m_run.ctx.xmlPath), "old\r\n");
    const auto entries = m_run.Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2], "modMain|FncCreateXMLString|ERR|13|Type mismatch|270");
}

TEST_P(DocumentDbTest, NoRowsRemoveTheOldDocument) {
    test::WriteFile(m_run.ctx.xmlPath, "old\r\n");
    EXPECT_EQ(CreateXmlBody(m_run.ctx).Status(), BodyStatus::NoRows);
    SubCreateBrimletXML(m_run.ctx);
    EXPECT_FALSE(test::Exists(m_run.ctx.xmlPath));
    EXPECT_EQ(m_run.Entries().back(),
              "modMain|SubCreateBrimletXML|MSG|No Data available for OS|AG|");
}

TEST_P(DocumentDbTest, FailingQueryKeepsTheOldDocument) {
    Insert("'dll'", "'a'");
    std::vector<std::string> failures = {
        backend() == Backend::Pg ? "DROP FUNCTION USP_AgentComponent_Details(varchar, varchar)"
                                 : "DROP PROCEDURE USP_AgentComponent_Details"};
    if (backend() == Backend::Pg) {
        // Fails after more than two of the driver's fetch batches have come: an SQL function is
        // streamed by the server, so the error arrives mid-fetch, and the rows before it must
        // not pass for the whole result.
        failures.push_back(
            "CREATE FUNCTION USP_AgentComponent_Details(a varchar, b varchar) RETURNS TABLE ("
            "\"Type\" varchar, \"Name\" varchar, \"filepath\" varchar, \"MD5Value\" varchar, "
            "\"State\" varchar, \"AgentVersion\" varchar, \"BinaryVersion\" varchar, "
            "\"Description\" varchar, \"dependencychk\" varchar, \"IsRegRequired\" boolean) "
            "LANGUAGE sql STABLE AS $$ SELECT 'dll'::varchar, ('n' || g)::varchar, 'p'::varchar, "
            "'m'::varchar, 'A'::varchar, '3.4'::varchar, '1.2'::varchar, "
            "(1 / (" +
            std::to_string(2 * db::kPsqlOdbcFetchRows + 5000) +
            " - g))::varchar, 'c'::varchar, TRUE FROM generate_series(1, " +
            std::to_string(3 * db::kPsqlOdbcFetchRows) + ") g $$");
    }
    for (const std::string& failure : failures) {
        SCOPED_TRACE(failure);
        Db().Exec(failure);
        test::WriteFile(m_run.ctx.xmlPath, "old\r\n");
        const std::size_t before = m_run.Entries().size();
        SubCreateBrimletXML(m_run.ctx);
        EXPECT_EQ(test::ReadFile(m_run.ctx.xmlPath), "old\r\n");
        EXPECT_FALSE(m_run.ctx.published);
        const auto all = m_run.Entries();
        ASSERT_EQ(all.size(), before + 3);
        const std::vector<std::string> entries(all.begin() + static_cast<std::ptrdiff_t>(before),
                                               all.end());
        EXPECT_EQ(entries[0], "modMain|SubCreateBrimletXML|MSG|Creating Brimlet xml...||");
        EXPECT_EQ(entries[2].rfind("modMain|FncCreateXMLString|ERR|", 0), 0u) << entries[2];
        EXPECT_EQ(entries[2].substr(entries[2].size() - 3), "|90");
    }
}

TEST_P(DocumentDbTest, ClosedResultSetIsReportedAtTheClosingStep) {
    if (backend() == Backend::Pg) {
        GTEST_SKIP() << "a call through psqlODBC always yields a result with columns";
    }
    Db().Exec("DROP PROCEDURE USP_AgentComponent_Details");
    Db().Exec(
        "CREATE PROCEDURE USP_AgentComponent_Details(IN a VARCHAR(50), IN b VARCHAR(10)) "
        "BEGIN DO 0; END");
    EXPECT_EQ(CreateXmlBody(m_run.ctx).Status(), BodyStatus::Failed);
    const auto entries = m_run.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].substr(entries[1].size() - 4), "|430") << entries[1];
}

TEST_P(DocumentDbTest, BodyOfSeveralStreamedPiecesIsPublishedWhole) {
    // About 9 MiB of body, so it reaches the encryption in a few pieces.
    Db().Exec(
        "INSERT INTO mst_agent_component (agent_type, os_type, type, name, filepath, md5_value, "
        "state, agent_version, binary_version, description, dependencychk, is_reg_required) "
        "WITH RECURSIVE s(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM s WHERE n < 199) "
        "SELECT 'AG', 'OS', CASE WHEN b.n % 3 = 0 THEN 'exe' ELSE 'DLL' END, "
        "CONCAT('n', a.n * 200 + b.n), 'p', 'm', 'A', '3.4', '1.2', REPEAT('d', 250), 'c', TRUE "
        "FROM s a, s b WHERE a.n < 150");
    const std::string body = Body();
    ASSERT_GT(body.size(), 8u << 20);
    SubCreateBrimletXML(m_run.ctx);
    ASSERT_TRUE(m_run.ctx.published) << testing::PrintToString(m_run.Entries());
    const std::string plain = DocumentCipher().Decrypt(test::ReadFile(m_run.ctx.xmlPath));
    const std::string tail = body + "</brimlet>";
    ASSERT_GT(plain.size(), tail.size());
    EXPECT_EQ(plain.compare(plain.size() - tail.size(), tail.size(), tail), 0);
    EXPECT_EQ(plain.rfind("<brimlet><createdatetime>", 0), 0u);
}

TEST_P(DocumentDbTest, HostileDataPublishesWellFormedXmlThatTheStockToolDecrypts) {
    if (std::system("command -v openssl >/dev/null && command -v xmllint >/dev/null") != 0) {
        GTEST_SKIP() << "openssl or xmllint not installed";
    }
    Insert("'Dll'", "'\"><evil a=''&amp;'",
           "'C:/a&b', ']]>', '<s>', '1\"2', '3<4', CONCAT('x', " + Chr(1) + ", ']]', " + Chr(2) +
               ", '>y'), CONCAT('" + "\xC3\xA4" + "', " + Chr(11) + ", '</dependencychk>'), TRUE");
    Insert("'  DLL  '", "'second'");
    Insert("'1st'", "'bad'");
    SubCreateBrimletXML(m_run.ctx);
    ASSERT_TRUE(m_run.ctx.published) << testing::PrintToString(m_run.Entries());
    const std::string plain = m_run.dir / "plain.xml";
    const std::string command =
        "openssl enc -d -aes-256-cbc -a -A -K "
        "3f0b06648622068f9cf8021892ad6b79b7e489123dd2cce9a82bacd6317779e4 "
        "-iv 00000000000000000000000000000000 -in " +
        m_run.ctx.xmlPath + " -out " + plain;
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(std::system(("xmllint --noout " + plain).c_str()), 0) << test::ReadFile(plain);
    const std::string xml = test::ReadFile(plain);
    EXPECT_NE(xml.find("<dll name=\"&quot;&gt;&lt;evil a='&amp;amp;\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<description><![CDATA[x]]]]><![CDATA[>y]]></description>"),
              std::string::npos);
    EXPECT_NE(xml.find("<![CDATA[\xC3\xA4</dependencychk>]]>"), std::string::npos);
    EXPECT_NE(xml.find("<surl><![CDATA[http://s/]]]]><![CDATA[>]]></surl>"), std::string::npos);
    EXPECT_NE(xml.find("<dll name=\"second\""), std::string::npos);
    EXPECT_EQ(xml.find("bad"), std::string::npos);
    EXPECT_EQ(m_run.Entries().back(),
              "modMain|SubCreateBrimletXML|MSG|Created new xml file|" + m_run.ctx.xmlPath + "|");
}

// Main's own error path, reached after a publication: the pause fails.
class FailingPauseClock : public test::FakeClock {
  public:
    using FakeClock::FakeClock;
    void SleepMs(int) const override { throw Failure(-1, "pause failed"); }
};

TEST_P(DocumentDbTest, MainsErrorEntryIsLastAndTheConnectionStaysOpen) {
    Insert("'dll'", "'a.dll'");
    test::TempDir site;
    ASSERT_TRUE(std::filesystem::create_directories(site / "www/AG"));
    test::WriteIni(site.path(), {"KEMADDONDBstr=" + Db().ConnectionString(), "conntimeoutsec=10",
                                 "cmdtimeoutsec=30", "purl=http://p/", "surl=http://s/",
                                 "srvpath=" + site / "www"});
    const FailingPauseClock clock(std::time(nullptr));
    RunContext ctx;
    ctx.log.clock = &clock;
    EXPECT_EQ(Main(ctx, {site / "pub_AG_OS", site.path(), "pub_AG_OS"}), kExitFailed);
    EXPECT_TRUE(ctx.published);
    const auto entries = test::EntryTexts(test::ReadLog(ctx.log.logFilePath));
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back(), "modMain|Main|ERR|-1|pause failed|200");
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "modMain|Main|MSG|END||"), 0);
    ASSERT_TRUE(ctx.connection);
    EXPECT_TRUE(ctx.connection->IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Backends, DocumentDbTest, ::testing::ValuesIn(test::AllBackends()),
                         test::BackendParamName);

}  // namespace
}  // namespace brimlet
