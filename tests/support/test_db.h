#pragma once
// A fresh database per test on the private servers that scripts/test starts
// (scripts/lib/servers.sh). The servers are reached through the admin connection strings in
// BRIMLET_TEST_PG and BRIMLET_TEST_MARIADB; each TestDatabase creates its own uniquely named
// database there, connects to it and drops it again in its destructor, so tests never share
// tables or procedures and may run in parallel.
//
// Missing servers: a backend whose variable is unset or empty is "not configured". Tests then
// skip, except when BRIMLET_TEST_REQUIRE_DB=1 is set (scripts/test sets it): then they fail.
// BRIMLET_REQUIRE_BACKEND(backend) does exactly that at the top of a test or SetUp().
//
// SQL files for ExecFile/ExecScript are read as the stock clients read them (psql -f,
// mariadb < file): statements end at the delimiter (";") outside quotes, PostgreSQL's dollar
// quotes and comments; for MariaDB a line "DELIMITER x" changes the delimiter, as the client
// does, so that a procedure body may hold semicolons. Each statement goes to the server as one
// SQLExecDirect; pieces holding only blanks and comments are skipped. Example file (MariaDB):
//
//     CREATE TABLE t (id INT, name VARCHAR(20));
//     DELIMITER //
//     CREATE PROCEDURE p() BEGIN SELECT id, name FROM t; END //
//     DELIMITER ;
//
// Example of use (one test body for both backends):
//
//     class MyDbTest : public brimlet::test::BackendTest {};
//
//     TEST_P(MyDbTest, ReadsRows) {
//         auto& db = Db();  // created in SetUp(); skips or fails there when not configured
//         db.Exec("CREATE TABLE t (id INT, name VARCHAR(20))");
//         db.Exec("INSERT INTO t VALUES (1, 'a'), (2, NULL)");
//         auto rows = db.Query("SELECT id, name FROM t ORDER BY id");
//         ASSERT_EQ(rows.size(), 2u);
//         EXPECT_EQ(rows[1][1], std::nullopt);
//         brimlet::db::Connection c;            // the layer under test
//         c.SetConnectionString(db.ConnectionString());
//     }
//
//     INSTANTIATE_TEST_SUITE_P(Backends, MyDbTest,
//                              ::testing::ValuesIn(brimlet::test::AllBackends()),
//                              brimlet::test::BackendParamName);
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brimlet::test {

enum class Backend { Pg, MariaDb };

// "Pg" or "MariaDb" (usable in test names).
std::string BackendName(Backend backend);
// The checkout's sql/postgresql or sql/mariadb: the schema and procedures as shipped.
std::string SqlDir(Backend backend);
// For INSTANTIATE_TEST_SUITE_P: names the instance after its backend.
std::string BackendParamName(const ::testing::TestParamInfo<Backend>& info);
// Both backends, configured or not (instantiate with these, so a missing one is reported).
std::vector<Backend> AllBackends();
// The backends whose admin connection string is set.
std::vector<Backend> ConfiguredBackends();
// The name of the environment variable of a backend: "BRIMLET_TEST_PG" or "BRIMLET_TEST_MARIADB".
std::string BackendEnvVar(Backend backend);
// The admin connection string of a backend, or nullopt when not configured.
std::optional<std::string> AdminConnectionString(Backend backend);
// True when BRIMLET_TEST_REQUIRE_DB=1: missing backends fail instead of skipping.
bool RequireDb();
// Why a backend cannot be used ("BRIMLET_TEST_PG is not set"), or nullopt when it can.
std::optional<std::string> MissingBackendReason(Backend backend);

// A value per column, NULL as nullopt; booleans read as "1"/"0", other types as the driver's
// text form.
using Row = std::vector<std::optional<std::string>>;

class TestDatabase {
  public:
    // Creates and connects to a new database on the backend's server. Throws
    // std::runtime_error (with the driver's diagnostics) when the backend is not configured or
    // the database cannot be created.
    explicit TestDatabase(Backend backend);
    // Disconnects and drops the database (errors are printed, not thrown).
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    Backend backend() const;
    // The database's name (lower case letters, digits and "_").
    const std::string& Name() const;
    // The admin connection string with its database replaced by this one.
    const std::string& ConnectionString() const;

    // Runs one statement (or a procedure definition) as it stands; any result is discarded.
    // Throws std::runtime_error with the diagnostics and the statement on failure.
    void Exec(const std::string& sql);
    // Splits text into statements (SplitSqlScript) and runs each with Exec, in order.
    void ExecScript(std::string_view text);
    // ExecScript on a file's content; throws when the file cannot be read.
    void ExecFile(const std::string& path);
    // Runs one statement and returns all rows of its first result set with columns.
    std::vector<Row> Query(const std::string& sql);
    // The first column of the first row of Query(sql); throws when there is no row.
    std::optional<std::string> QueryValue(const std::string& sql);

    struct Impl;

  private:
    std::unique_ptr<Impl> m_impl;
};

// The statements of a script in the backend's client syntax, without their delimiters and the
// blanks around them (pieces of only blanks and comments left out).
std::vector<std::string> SplitSqlScript(std::string_view text, Backend backend);

// Fixture for tests run once per backend: SetUp() skips or fails when the backend is not
// configured (BRIMLET_REQUIRE_DB rules) and creates a fresh database.
class BackendTest : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override;
    void TearDown() override;
    Backend backend() const { return GetParam(); }
    // The database of this test; valid between SetUp and TearDown.
    TestDatabase& Db();

  private:
    std::unique_ptr<TestDatabase> m_db;
};

}  // namespace brimlet::test

// Skips the current test (or fails it with BRIMLET_TEST_REQUIRE_DB=1) when `backend` is not
// configured. Use at the top of a test body or SetUp().
#define BRIMLET_REQUIRE_BACKEND(backend)                                            \
    do {                                                                            \
        if (auto brimletMissing = ::brimlet::test::MissingBackendReason(backend)) { \
            if (::brimlet::test::RequireDb()) {                                     \
                FAIL() << *brimletMissing << " (BRIMLET_TEST_REQUIRE_DB=1)";        \
            } else {                                                                \
                GTEST_SKIP() << *brimletMissing;                                    \
            }                                                                       \
        }                                                                           \
    } while (0)
