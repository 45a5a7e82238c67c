// The reference schema, procedures and sample data of sql/, loaded on both servers and called
// the way the program calls them: "{call NAME(?, ...)}" with parameters bound by position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/raw_odbc.h"
#include "support/test_db.h"

namespace brimlet {
namespace {

using test::Backend;
using test::Row;

struct CallResult {
    bool ok = false;
    std::string error;
    std::vector<std::string> columns;  // of the first result with columns
    std::vector<Row> rows;
    std::optional<int> outStatus;
};

// One input value or the output integer; the buffers stay put while the call runs.
struct Param {
    enum Kind { Text, Timestamp, OutInt } kind;
    std::string text;
    SQL_TIMESTAMP_STRUCT timestamp{};
    SQLINTEGER outValue = 0;
    SQLLEN indicator = 0;

    static Param In(std::string value) { return {Text, std::move(value), {}, 0, 0}; }
    static Param At(SQL_TIMESTAMP_STRUCT value) { return {Timestamp, {}, value, 0, 0}; }
    static Param Out() { return {OutInt, {}, {}, 0, 0}; }
};

class OdbcConnection {
  public:
    explicit OdbcConnection(const std::string& connectionString) : m_session(connectionString) {}

    CallResult Call(const std::string& sql, std::vector<Param>& params) {
        CallResult result;
        const test::RawHandle stmt(SQL_HANDLE_STMT, m_session.dbc());
        SQLHSTMT raw = stmt.get();
        SQLUSMALLINT number = 1;
        for (Param& p : params) {
            SQLRETURN rc = SQL_SUCCESS;
            if (p.kind == Param::Text) {
                p.indicator = static_cast<SQLLEN>(p.text.size());
                rc = SQLBindParameter(raw, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                      std::max<SQLULEN>(p.text.size(), 1), 0, p.text.data(),
                                      static_cast<SQLLEN>(p.text.size()), &p.indicator);
            } else if (p.kind == Param::Timestamp) {
                p.indicator = sizeof p.timestamp;
                rc = SQLBindParameter(raw, number, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP,
                                      SQL_TYPE_TIMESTAMP, 19, 0, &p.timestamp, sizeof p.timestamp,
                                      &p.indicator);
            } else {
                p.outValue = -12345;
                p.indicator = 0;
                rc = SQLBindParameter(raw, number, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                                      &p.outValue, 0, &p.indicator);
            }
            if (!SQL_SUCCEEDED(rc)) {
                result.error = "bind failed: " + test::RawDiagnostics(SQL_HANDLE_STMT, raw);
                return result;
            }
            ++number;
        }
        SQLRETURN rc = SQL_SUCCESS;
        try {
            rc = test::RawExecute(raw, sql, "call");
        } catch (const std::runtime_error& e) {
            result.error = e.what();
            return result;
        }
        // Output values are complete only once every result of the call has been consumed.
        while (SQL_SUCCEEDED(rc)) {
            SQLSMALLINT columns = 0;
            SQLNumResultCols(raw, &columns);
            if (columns > 0 && result.columns.empty()) {
                ReadResult(raw, columns, result);
            }
            rc = SQLMoreResults(raw);
        }
        if (rc != SQL_NO_DATA) {
            result.error = test::RawDiagnostics(SQL_HANDLE_STMT, raw);
            return result;
        }
        for (const Param& p : params) {
            if (p.kind == Param::OutInt && p.indicator != SQL_NULL_DATA) {
                result.outStatus = p.outValue;
            }
        }
        result.ok = true;
        return result;
    }

  private:
    static void ReadResult(SQLHANDLE stmt, SQLSMALLINT columns, CallResult& result) {
        for (SQLSMALLINT c = 1; c <= columns; ++c) {
            SQLCHAR name[256];
            SQLSMALLINT nameLength = 0;
            SQLSMALLINT dataType = 0;
            SQLULEN size = 0;
            SQLSMALLINT digits = 0;
            SQLSMALLINT nullable = 0;
            SQLDescribeCol(stmt, c, name, sizeof name, &nameLength, &dataType, &size, &digits,
                           &nullable);
            result.columns.emplace_back(reinterpret_cast<char*>(name));
        }
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            Row row;
            for (SQLSMALLINT c = 1; c <= columns; ++c) {
                char buffer[4096];
                SQLLEN indicator = 0;
                SQLGetData(stmt, c, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
                if (indicator == SQL_NULL_DATA) {
                    row.emplace_back(std::nullopt);
                } else {
                    row.emplace_back(std::string(buffer));
                }
            }
            result.rows.push_back(std::move(row));
        }
    }

    test::RawSession m_session;
};

const std::vector<std::string> kComponentColumns = {
    "Type",          "Name",        "filepath",      "MD5Value",      "State",     "AgentVersion",
    "BinaryVersion", "Description", "dependencychk", "IsRegRequired", "AgentType", "OS"};

class SqlProcedures : public test::BackendTest {
  protected:
    void SetUp() override {
        test::BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        const std::string dir = test::SqlDir(backend());
        for (const char* file : {"/schema.sql", "/procedures.sql", "/sample.sql"}) {
            Db().ExecFile(dir + file);
        }
        m_odbc = std::make_unique<OdbcConnection>(Db().ConnectionString());
    }

    CallResult Components(const std::string& osType, const std::string& agentType) {
        std::vector<Param> params = {Param::In(osType), Param::In(agentType)};
        return m_odbc->Call("{call USP_AgentComponent_Details(?,?)}", params);
    }

    CallResult Checksum(const std::string& agentType, const std::string& os, const std::string& md5,
                        SQL_TIMESTAMP_STRUCT releaseDate, const std::string& purl,
                        const std::string& surl) {
        std::vector<Param> params = {
            Param::In(agentType), Param::In(os),   Param::In(md5), Param::At(releaseDate),
            Param::In(purl),      Param::In(surl), Param::Out()};
        return m_odbc->Call("{call USP_MstAgentXmlCheckSum_IU(?,?,?,?,?,?,?)}", params);
    }

    // Column values of the named column, one per row.
    static std::vector<std::optional<std::string>> Column(const CallResult& r,
                                                          const std::string& name) {
        std::vector<std::optional<std::string>> values;
        const auto it = std::find(r.columns.begin(), r.columns.end(), name);
        EXPECT_NE(it, r.columns.end()) << name;
        if (it == r.columns.end()) {
            return values;
        }
        const auto index = static_cast<std::size_t>(it - r.columns.begin());
        for (const Row& row : r.rows) {
            values.push_back(row.at(index));
        }
        return values;
    }

    std::unique_ptr<OdbcConnection> m_odbc;
};

using Values = std::vector<std::optional<std::string>>;

TEST_P(SqlProcedures, ComponentQueryReturnsTheContractColumnsInStoredOrder) {
    const CallResult r = Components("WIN64", "KA");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.columns, kComponentColumns);
    EXPECT_EQ(Column(r, "Name"),
              (Values{"core.dll", "agent.exe", "net.dll", "ui.dll", "agent.cfg"}));
    // Stored as they are: blanks and letter case of the type are the program's business.
    EXPECT_EQ(Column(r, "Type"), (Values{"DLL", "EXE", " dll", "dll ", "Config"}));
    EXPECT_EQ(Column(r, "IsRegRequired"), (Values{"1", "0", std::nullopt, "0", "0"}));
    EXPECT_EQ(Column(r, "Description")[2], std::nullopt);
    EXPECT_EQ(Column(r, "dependencychk")[3], "");
    ASSERT_EQ(r.rows.size(), 5u);
    EXPECT_EQ(r.rows[0], (Row{"DLL", "core.dll", "bin", "a1b2c3d4e5f60718293a4b5c6d7e8f90", "A",
                              "3.4", "1.2", "Core library", "none", "1", "KA", "WIN64"}));
}

TEST_P(SqlProcedures, ComponentQueryFiltersByBothParameters) {
    const CallResult linux = Components("LINUX", "KA");
    ASSERT_TRUE(linux.ok) << linux.error;
    EXPECT_EQ(Column(linux, "Name"), (Values{"libcore.so", "agentd"}));
    EXPECT_EQ(Column(linux, "OS"), (Values{"LINUX", "LINUX"}));
    EXPECT_EQ(Column(linux, "AgentType"), (Values{"KA", "KA"}));

    const CallResult kb = Components("WIN64", "KB");
    ASSERT_TRUE(kb.ok) << kb.error;
    EXPECT_EQ(Column(kb, "Name"), (Values{"probe.dll", "stray.txt"}));
    EXPECT_EQ(Column(kb, "Type"), (Values{"DLL", std::nullopt}));

    // Letter case of the parameters does not matter; the stored spelling comes back.
    const CallResult lower = Components("win64", "ka");
    ASSERT_TRUE(lower.ok) << lower.error;
    EXPECT_EQ(lower.rows.size(), 5u);
    EXPECT_EQ(Column(lower, "OS")[0], "WIN64");

    // No rows is still one result set with every column.
    for (const auto& [os, agent] : {std::pair{"LINUX", "KB"}, std::pair{"WIN64", "K"},
                                    std::pair{"WIN", "KA"}, std::pair{"", ""}}) {
        SCOPED_TRACE(std::string(os) + "/" + agent);
        const CallResult none = Components(os, agent);
        ASSERT_TRUE(none.ok) << none.error;
        EXPECT_EQ(none.columns, kComponentColumns);
        EXPECT_TRUE(none.rows.empty());
    }
}

TEST_P(SqlProcedures, ChecksumCallReportsOneAndUpsertsByAgentAndOs) {
    const std::string select =
        "SELECT agent_type, os, md5_string, release_date, download_url, secondary_url "
        "FROM mst_agent_xml_checksum ORDER BY agent_type, os";
    const CallResult first = Checksum("KA", "WIN64", "0123456789abcdef0123456789abcdef",
                                      {2026, 12, 8, 16, 45, 30, 0}, "http://p/", "http://s/");
    ASSERT_TRUE(first.ok) << first.error;
    EXPECT_EQ(first.outStatus, 1);
    EXPECT_EQ(Db().Query(select),
              (std::vector<Row>{{"KA", "WIN64", "0123456789abcdef0123456789abcdef",
                                 "2026-12-08 16:45:30", "http://p/", "http://s/"}}));

    // Same pair (in another letter case): the row is replaced, not doubled.
    const CallResult again =
        Checksum("ka", "win64", "", {2027, 1, 2, 3, 4, 5, 0}, "http://p2/", "http://s2/");
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.outStatus, 1);
    EXPECT_EQ(
        Db().Query(select),
        (std::vector<Row>{{"KA", "WIN64", "", "2027-01-02 03:04:05", "http://p2/", "http://s2/"}}));

    const CallResult other =
        Checksum("KB", "WIN64", "m", {2027, 1, 2, 3, 4, 5, 0}, "http://p/", "http://s/");
    ASSERT_TRUE(other.ok) << other.error;
    EXPECT_EQ(other.outStatus, 1);
    EXPECT_EQ(Db().QueryValue("SELECT COUNT(*) FROM mst_agent_xml_checksum"), "2");
}

TEST_P(SqlProcedures, ChecksumCallThatCannotStoreFailsInsteadOfReportingSuccess) {
    const CallResult r = Checksum(std::string(60, 'A'), "WIN64", "m", {2026, 12, 8, 0, 0, 0, 0},
                                  "http://p/", "http://s/");
    EXPECT_FALSE(r.ok) << "status " << r.outStatus.value_or(-1);
    EXPECT_EQ(Db().QueryValue("SELECT COUNT(*) FROM mst_agent_xml_checksum"), "0");
}

// 1 means committed: a MariaDB session whose autocommit is off (a server's default may say
// so) would otherwise hold the row uncommitted, to be lost when it disconnects.
TEST_P(SqlProcedures, ChecksumCallReportsOneOnlyOnceTheRowIsCommitted) {
    if (backend() == Backend::Pg) {
        GTEST_SKIP() << "a function runs in the caller's transaction; the program calls it under "
                        "ODBC's autocommit, so its statement is its transaction";
    }
    std::vector<Param> none;
    const CallResult off = m_odbc->Call("SET autocommit = 0", none);
    ASSERT_TRUE(off.ok) << off.error;
    const CallResult r =
        Checksum("KA", "WIN64", "m", {2026, 12, 8, 0, 0, 0, 0}, "http://p/", "http://s/");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.outStatus, 1);
    // Read from another session while the caller's stays open and commits nothing itself.
    EXPECT_EQ(Db().QueryValue("SELECT COUNT(*) FROM mst_agent_xml_checksum"), "1");
    // An uncommitted row would hold its locks, and the database's drop would wait on them.
    EXPECT_TRUE(m_odbc->Call("ROLLBACK", none).ok);
}

INSTANTIATE_TEST_SUITE_P(Backends, SqlProcedures, ::testing::ValuesIn(test::AllBackends()),
                         test::BackendParamName);

}  // namespace
}  // namespace brimlet
