#include "fault_case.h"

#include <algorithm>
#include <regex>

#include "cipher/cipher.h"

namespace brimlet::faults {

namespace {
std::string Quoted(const std::string& value) {
    std::string out = "'";
    for (char c : value) {
        out += c;
        if (c == '\'') {
            out += c;
        }
    }
    return out + "'";
}
}  // namespace

std::string ComponentInserts(test::Backend backend, int rows, const std::string& agentText,
                             const std::string& osText) {
    const std::string agent = Quoted(agentText);
    const std::string os = Quoted(osText);
    const std::string cols =
        "INSERT INTO mst_agent_component (agent_type, os_type, type, name, filepath, md5_value, "
        "state, agent_version, binary_version, description, dependencychk, is_reg_required) ";
    if (rows > 200 && backend == test::Backend::Pg) {
        // Wide enough rows that the fetch of a large set takes a while.
        return cols + "SELECT " + agent + ", " + os +
               ", (ARRAY['DLL','EXE','Config'])[1 + i % 3], 'c' || i || '.bin', 'bin/' || i, "
               "md5(i::text), 'A', '3.4', '1.' || i, repeat('d', 200), 'none', i % 2 = 0 "
               "FROM generate_series(1, " +
               std::to_string(rows) + ") AS i";
    }
    const char* types[] = {"DLL", "EXE", "Config"};
    std::string sql = cols + "VALUES ";
    for (int i = 1; i <= rows; ++i) {
        const std::string n = std::to_string(i);
        const bool flag = i % 2 == 0;
        sql += (i > 1 ? ", " : "");
        sql += "(" + agent + ", " + os + ", '" + types[i % 3] + "', 'c" + n + ".bin', 'bin/" + n +
               "', 'm" + n + "', 'A', '3.4', '1." + n + "', 'component " + n + "', 'none', " +
               (backend == test::Backend::Pg ? (flag ? "true" : "false") : (flag ? "1" : "0")) +
               ")";
    }
    return sql;
}

void MakeComponentQuerySleep(test::TestDatabase& db, test::Backend backend, int seconds) {
    const std::string sleep = std::to_string(seconds);
    if (backend == test::Backend::Pg) {
        db.Exec("DROP FUNCTION USP_AgentComponent_Details");
        db.Exec(
            "CREATE FUNCTION USP_AgentComponent_Details(in_os_type varchar(50), "
            "in_agent_type varchar(10)) RETURNS TABLE (\"Type\" varchar, \"Name\" varchar) "
            "LANGUAGE plpgsql AS $$ BEGIN PERFORM pg_sleep(" +
            sleep +
            "); RETURN QUERY SELECT "
            "'DLL'::varchar, 'late.dll'::varchar; END $$");
    } else {
        db.Exec("DROP PROCEDURE USP_AgentComponent_Details");
        db.Exec(
            "CREATE PROCEDURE USP_AgentComponent_Details(IN InOSType VARCHAR(50), IN "
            "InAgentType VARCHAR(10)) BEGIN DO SLEEP(" +
            sleep +
            "); SELECT 'DLL' AS `Type`, 'late.dll' AS `Name`, 'p' AS `filepath`, 'm' AS "
            "`MD5Value`, 'A' AS `State`, '1' AS `AgentVersion`, '1' AS `BinaryVersion`, 'd' AS "
            "`Description`, 'c' AS `dependencychk`, 0 AS `IsRegRequired`; END");
    }
}

void PrefixChecksumProcedure(test::TestDatabase& db, const std::string& pg,
                             const std::string& mariadb, const std::string& urlPrefix) {
    const bool isPg = db.backend() == test::Backend::Pg;
    std::string text = test::ReadFile(SqlDir(db.backend()) + "/procedures.sql");
    const std::string anchor = isPg ? "    out_status := 0;\n" : "    SET OutStatus = 0;\n";
    const std::string url = isPg ? "in_download_url" : "InDownloadURL";
    const std::string statement = isPg ? pg : mariadb;
    const auto at = text.find(anchor);
    ASSERT_NE(at, std::string::npos);
    text.insert(at + anchor.size(), urlPrefix.empty()
                                        ? "    " + statement + "\n"
                                        : "    IF " + url + " LIKE " + Quoted(urlPrefix + "%") +
                                              " THEN " + statement + " END IF;\n");
    if (!isPg) {
        db.Exec("DROP PROCEDURE USP_AgentComponent_Details");
        db.Exec("DROP PROCEDURE USP_MstAgentXmlCheckSum_IU");
    }
    db.ExecScript(text);
}

void KillOtherSessions(test::TestDatabase& db) {
    if (db.backend() == test::Backend::Pg) {
        db.Query(
            "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
            "current_database() AND pid <> pg_backend_pid()");
        return;
    }
    for (const auto& row : db.Query("SELECT id FROM information_schema.processlist WHERE db = "
                                    "database() AND id <> connection_id()")) {
        db.Exec("KILL CONNECTION " + row.at(0).value_or("0"));
    }
}

std::string RecordedMd5(test::TestDatabase& db) {
    const auto rows = db.Query("SELECT md5_string FROM mst_agent_xml_checksum");
    return rows.empty() ? std::string() : rows.front().at(0).value_or("");
}

void LoadSchema(test::TestDatabase& db, int rows, const std::string& agent, const std::string& os) {
    db.ExecFile(SqlDir(db.backend()) + "/schema.sql");
    db.ExecFile(SqlDir(db.backend()) + "/procedures.sql");
    if (rows > 0) {
        db.Exec(ComponentInserts(db.backend(), rows, agent, os));
    }
}

std::string WithKey(const std::string& connectionString, const std::string& key,
                    const std::string& value) {
    std::string out;
    bool replaced = false;
    std::size_t pos = 0;
    while (pos <= connectionString.size()) {
        std::size_t end = connectionString.find(';', pos);
        if (end == std::string::npos) {
            end = connectionString.size();
        }
        std::string item = connectionString.substr(pos, end - pos);
        const auto eq = item.find('=');
        if (!item.empty()) {
            std::string k = item.substr(0, eq);
            if (strcasecmp(k.c_str(), key.c_str()) == 0) {
                item = key + "=" + value;
                replaced = true;
            }
            out += (out.empty() ? "" : ";") + item;
        }
        pos = end + 1;
    }
    if (!replaced) {
        out += (out.empty() ? "" : ";") + key + "=" + value;
    }
    return out;
}

std::string SeedPrevious(const RunSite& site) {
    std::string doc = DocumentCipher().Encrypt(
                          "<brimlet><createdatetime>01/01/2020 00:00:00</createdatetime><purl><!"
                          "[CDATA[prev]]></purl><surl><![CDATA[prev]]></surl></brimlet>") +
                      "\r\n";
    test::WriteFile(site.xml, doc);
    return doc;
}

bool HasEntry(const std::vector<std::string>& texts, const std::string& prefix) {
    return CountEntries(texts, prefix) > 0;
}

int CountEntries(const std::vector<std::string>& texts, const std::string& prefix) {
    int n = 0;
    for (const auto& t : texts) {
        if (t.rfind(prefix, 0) == 0) {
            ++n;
        }
    }
    return n;
}

::testing::AssertionResult IsCompleteDocument(const std::string& file, int rows,
                                              const std::string& purl) {
    if (file.size() < 2 || file.compare(file.size() - 2, 2, "\r\n") != 0) {
        return ::testing::AssertionFailure()
               << "no line end at the end (" << file.size() << " bytes)";
    }
    std::string plain;
    try {
        plain = DocumentCipher().Decrypt(file);
    } catch (const std::exception& e) {
        return ::testing::AssertionFailure() << "does not decrypt: " << e.what();
    }
    // No std::regex over the body: its recursion overflows the stack on large documents.
    static const std::regex head(
        R"(<brimlet><createdatetime>\d\d/\d\d/\d{4} \d\d:\d\d:\d\d</createdatetime>)"
        R"(<purl><!\[CDATA\[([^\]]*)\]\]></purl><surl><!\[CDATA\[[^\]]*\]\]></surl>)");
    const std::string tail = "</brimlet>";
    const std::string start = plain.substr(0, std::min<std::size_t>(plain.size(), 400));
    std::smatch m;
    if (!std::regex_search(start, m, head) || m.position(0) != 0 || plain.size() < tail.size() ||
        plain.compare(plain.size() - tail.size(), tail.size(), tail) != 0) {
        return ::testing::AssertionFailure() << "not a whole document: " << plain.substr(0, 300);
    }
    if (!purl.empty() && m[1].str() != purl) {
        return ::testing::AssertionFailure() << "purl " << m[1].str() << ", expected " << purl;
    }
    const std::string body = plain.substr(m.length(0), plain.size() - m.length(0) - tail.size());
    std::size_t count = 0;
    for (auto p = body.find("<md5checksum>"); p != std::string::npos;
         p = body.find("<md5checksum>", p + 1)) {
        ++count;
    }
    if (count != static_cast<std::size_t>(rows)) {
        return ::testing::AssertionFailure() << count << " components, expected " << rows;
    }
    return ::testing::AssertionSuccess();
}

void ExpectCleanLog(const test::LogFileContent& log, const std::string& connectionString) {
    for (const auto& cols : log.entries) {
        EXPECT_EQ(cols.size(), 7u) << "entry not seven columns: " << log.raw;
    }
    EXPECT_EQ(log.raw.find(kPassPhrase), std::string::npos) << "pass phrase logged";
    if (!connectionString.empty()) {
        EXPECT_EQ(log.raw.find(connectionString), std::string::npos) << "connection string logged";
        const std::regex pwd("(?:^|;)\\s*pwd\\s*=([^;]+)", std::regex::icase);
        std::smatch m;
        if (std::regex_search(connectionString, m, pwd) && m[1].length() >= 12) {
            EXPECT_EQ(log.raw.find(m[1].str()), std::string::npos) << "password logged";
        }
    }
}

}  // namespace brimlet::faults
