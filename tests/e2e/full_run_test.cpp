// The whole run through the real binary under a prefix_AGENT_OS link, on both servers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <regex>

#include "cipher/cipher.h"
#include "common/text.h"
#include "support/md5.h"
#include "support/run_site.h"
#include "support/temp_dir.h"
#include "support/test_db.h"

namespace brimlet {
namespace {

using test::BackendTest;
using test::EntryTexts;

using test::SqlDir;

class FullRunTest : public BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        Db().ExecFile(SqlDir(backend()) + "/schema.sql");
        Db().ExecFile(SqlDir(backend()) + "/procedures.sql");
        // The example row of the document's grammar: its body is known byte for byte.
        Db().Exec(
            "INSERT INTO mst_agent_component (agent_type, os_type, type, name, filepath, "
            "md5_value, state, agent_version, binary_version, description, dependencychk, "
            "is_reg_required) VALUES ('E2A', 'LNX', ' DLL', 'a.dll', 'bin', 'm', 'A', '3.4', "
            "'1.2', 'd', 'c', " +
            std::string(backend() == test::Backend::Pg ? "true" : "1") + ")");
        site.WriteSettings(Db().ConnectionString());
    }
    test::ProcessResult Run(const std::vector<std::string>& args = {}) {
        return site.Run({}, args);
    }

    test::RunSite site{"pub_E2A_LNX", "E2A", "LNX"};
    const test::TempDir& dir = site.dir;
    const std::string& link = site.link;
    const std::string& xml = site.xml;
};

TEST_P(FullRunTest, PublishesRecordsAndLogsExactlyTheTypicalRun) {
    const std::time_t before = std::time(nullptr);
    auto r = Run();
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_GE(r.seconds, 2.0);  // the fixed pause stays
    EXPECT_EQ(r.err, "");       // nothing for the journal
    EXPECT_EQ(r.out, "");
    r = Run();  // the second run replaces the first run's document
    EXPECT_EQ(r.exitStatus, 0);

    const std::string file = test::ReadFile(xml);
    ASSERT_GE(file.size(), 2u);
    EXPECT_EQ(file.substr(file.size() - 2), "\r\n");
    const std::string md5 = ToUpperAscii(test::Md5Hex(file));
    const auto log = site.Log();
    const std::vector<std::string> typical = {
        "modMain|Main|MSG|START||",
        "modMain|SubCreateBrimletXML|MSG|Creating Brimlet xml...||",
        "modMain|FncCreateXMLString|MSG|Creating File type wise xml string...||",
        "modMain|SubCreateBrimletXML|MSG|Created new xml file|" + xml + "|",
        "modMain|SubUpdateXmlCheckSum|MSG|Updating Checksum of " + xml + " in the database...||",
        "modMain|Checksum|MSG|Getting MD5 checksum of : " + xml + "||",
    };
    const auto texts = EntryTexts(log);
    ASSERT_EQ(texts.size(), 19u) << log.raw;
    for (std::size_t i = 0; i < typical.size(); ++i) {
        EXPECT_EQ(texts[i], typical[i]);
    }
    EXPECT_TRUE(std::regex_match(
        texts[6], std::regex(R"(modMain\|Checksum\|MSG\|FileMD5CheckSum : [0-9A-F]{32}\|\|)")));
    EXPECT_EQ(texts[7], "modMain|SubUpdateXmlCheckSum|MSG|Checksum updated in the database||");
    EXPECT_EQ(texts[8], "modMain|Main|MSG|END||");
    // Second run: the old document is replaced where the new one is published.
    EXPECT_EQ(texts[12], "modMain|SubCreateBrimletXML|MSG|Deleted Old xml file||");
    EXPECT_EQ(texts[13], "modMain|SubCreateBrimletXML|MSG|Created new xml file|" + xml + "|");
    EXPECT_EQ(texts[16], "modMain|Checksum|MSG|FileMD5CheckSum : " + md5 + "||");
    EXPECT_EQ(texts[17], "modMain|SubUpdateXmlCheckSum|MSG|Checksum updated in the database||");
    EXPECT_EQ(texts[18], "modMain|Main|MSG|END||");

    // The database holds the published file's checksum, the run's time and both URLs.
    const auto rows = Db().Query(
        "SELECT md5_string, download_url, secondary_url, release_date FROM mst_agent_xml_checksum");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], md5);
    EXPECT_EQ(rows[0][1], "http://primary.invalid/dl/");
    EXPECT_EQ(rows[0][2], "http://second.invalid/dl/");
    ASSERT_TRUE(rows[0][3].has_value());
    std::tm tm{};
    ASSERT_NE(strptime(rows[0][3]->c_str(), "%Y-%m-%d %H:%M:%S", &tm), nullptr) << *rows[0][3];
    tm.tm_isdst = -1;
    const std::time_t recorded = std::mktime(&tm);
    EXPECT_GE(recorded, before);
    EXPECT_LE(recorded, std::time(nullptr) + 1);

    // The document decrypts to the wrapper around the known body.
    const std::string plain = DocumentCipher().Decrypt(file);
    const std::regex shape(
        R"(<brimlet><createdatetime>\d\d/\d\d/\d{4} \d\d:\d\d:\d\d</createdatetime>)"
        R"(<purl><!\[CDATA\[http://primary\.invalid/dl/\]\]></purl>)"
        R"(<surl><!\[CDATA\[http://second\.invalid/dl/\]\]></surl>(.*)</brimlet>)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(plain, m, shape)) << plain;
    EXPECT_EQ(m[1].str(),
              "<dllfiles><dll name=\"a.dll\" version=\"1.2\" agentversion=\"3.4\" state=\"A\" "
              "path=\"bin\" isregrequired=\"1\"><md5checksum><![CDATA[m]]></md5checksum>"
              "<description><![CDATA[d]]></description><dependencychk><![CDATA[c]]>"
              "</dependencychk></dll></dllfiles>");
}

// A plain file is accepted as the output root; below it no document can exist.
TEST_P(FullRunTest, NoRowsUnderAPlainFileRootIsNoData) {
    const std::string root = dir / "rootfile";
    test::WriteFile(root, "not a folder\n");
    site.WriteSettings(Db().ConnectionString(), "10", "30", {"srvpath=" + root});
    Db().Exec("DELETE FROM mst_agent_component");
    const auto r = Run();
    EXPECT_EQ(r.exitStatus, 1);
    // The removal's reason reaches the service manager too, ahead of the failure's summary.
    EXPECT_NE(r.err.find("]: SubCreateBrimletXML: No Data available for LNX E2A\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(test::ReadFile(root), "not a folder\n");
    const auto log = site.Log();
    const auto texts = EntryTexts(log);
    const std::string doc = root + "/E2A/Brimlet_E2A_LNX.xml";
    const std::vector<std::string> tail = {
        "modMain|SubCreateBrimletXML|MSG|No Data available for LNX|E2A|",
        "modMain|SubUpdateXmlCheckSum|MSG|Updating Checksum of " + doc + " in the database...||",
        "modMain|SubUpdateXmlCheckSum|MSG|File not found|" + doc + "|",
        "modMain|Main|MSG|END||",
    };
    ASSERT_GE(texts.size(), tail.size()) << log.raw;
    EXPECT_EQ(std::vector<std::string>(texts.end() - 4, texts.end()), tail) << log.raw;
    EXPECT_EQ(log.raw.find("\tERR\t"), std::string::npos) << log.raw;
}

// Everything a run needs is tried; nothing a run writes is written.
TEST_P(FullRunTest, CheckSaysWhatARunWouldPublishAndChangesNothing) {
    for (const bool installedName : {false, true}) {
        SCOPED_TRACE(installedName ? "brimlet --check LINK" : "LINK --check");
        const auto r = installedName ? test::RunProgram(test::BrimletBinary(), "brimlet",
                                                        dir.path(), {"LC_ALL=C"}, {"--check", link})
                                     : Run({"--check"});
        EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("document: " + xml + ": 1 rows in 1 groups, "), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("check passed"), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(test::Exists(dir / "Log"));
    EXPECT_FALSE(test::Exists(xml));
    EXPECT_TRUE(Db().Query("SELECT md5_string FROM mst_agent_xml_checksum").empty());

    // Each settings fault is named with its file and key, its value shown inert.
    const std::string ini = dir / "Ini/dbstring.Ini";
    test::WriteIni(dir.path(),
                   {"KEMADDONDBstr=" + Db().ConnectionString(), "conntimeoutsec=a\x1b[2J\x07\\bc",
                    "cmdtimeoutsec=30", "pURL=http://p/", "surI=http://s/",
                    "srvpath=" + (dir / "out"), "intervalsec=0"});
    auto r = Run({"--check"});
    EXPECT_EQ(r.exitStatus, 1);
    for (const std::string& line :
         {ini + ": key surl missing or blank",
          ini + ": key conntimeoutsec=a\\x1b[2J\\x07\\bc is not a whole",
          ini + ": key intervalsec=0 is not", ini + ": unknown key surI is ignored"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
    EXPECT_EQ(r.out.find("key purl"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    test::WriteFile(ini, "[Other]\nsurl=x\n");
    r = Run({"--check"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.out.find("error: " + ini + ": no [Brimlet] section"), std::string::npos) << r.out;
    ASSERT_EQ(::unlink(ini.c_str()), 0);
    r = Run({"--check"});
    EXPECT_NE(r.out.find("error: settings file " + ini + ": No such file or directory"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(test::Exists(dir / "Log"));
}

// psqlODBC as Debian registers it writes a communication log per connection into /tmp.
TEST_P(FullRunTest, ARunLeavesNoDriverLogInTmp) {
    if (backend() != test::Backend::Pg) {
        GTEST_SKIP() << "psqlODBC only";
    }
    // The names end in the process id; older files of a reused id are not this run's.
    const auto driverLogs = [](pid_t pid, std::time_t since) {
        std::string out;
        test::Shell("find /tmp -maxdepth 1 -newermt @" + std::to_string(since - 1) +
                        " -regextype egrep -regex '/tmp/(psqlodbc|mylog)_.*[^0-9]" +
                        std::to_string(pid) + "[.]log'",
                    out);
        return out;
    };
    const std::time_t start = std::time(nullptr);
    const auto r = Run();
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(driverLogs(r.pid, start), "");
    // The string's own CommLog wins, which also shows that the file would be found.
    site.WriteSettings(Db().ConnectionString() + ";CommLog=1");
    const auto logged = Run();
    const std::string found = driverLogs(logged.pid, start);
    EXPECT_NE(found, "");
    for (std::size_t pos = 0, end; (end = found.find('\n', pos)) != std::string::npos;
         pos = end + 1) {
        ::unlink(found.substr(pos, end - pos).c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, FullRunTest, ::testing::ValuesIn(test::AllBackends()),
                         test::BackendParamName);

}  // namespace
}  // namespace brimlet
