// The test database helper itself: other areas' database tests stand on it.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/test_db.h"

namespace brimlet::test {
namespace {

TEST(SplitSqlScript, SplitsAtMarkerLinesOnly) {
    auto pieces = SplitSqlScript(
        "-- header comment\n-- @@\nCREATE TABLE t (a INT);\n  -- @@  \r\n"
        "CREATE PROCEDURE p() BEGIN SELECT 1; SELECT 2; END\n-- @@ not a marker\n-- @@\n\n");
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], "CREATE TABLE t (a INT);\n");
    EXPECT_EQ(pieces[1],
              "CREATE PROCEDURE p() BEGIN SELECT 1; SELECT 2; END\n-- @@ not a marker\n");
}

class TestDatabaseTest : public BackendTest {};

TEST_P(TestDatabaseTest, CreatesQueriesAndDrops) {
    std::string name;
    {
        TestDatabase other(backend());
        name = other.Name();
        EXPECT_NE(name, Db().Name());
        EXPECT_NE(other.ConnectionString().find("Database=" + name), std::string::npos);
        other.Exec("CREATE TABLE t (id INT, v VARCHAR(10))");
        other.Exec("INSERT INTO t VALUES (1, 'a'), (2, NULL)");
        auto rows = other.Query("SELECT id, v FROM t ORDER BY id");
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0], (Row{"1", "a"}));
        EXPECT_EQ(rows[1], (Row{"2", std::nullopt}));
    }
    std::string listSql =
        backend() == Backend::Pg
            ? "SELECT count(*) FROM pg_database WHERE datname = '" + name + "'"
            : "SELECT count(*) FROM information_schema.schemata WHERE schema_name = '" + name + "'";
    EXPECT_EQ(Db().QueryValue(listSql), "0");
}

TEST_P(TestDatabaseTest, ExecFileLoadsProcedureBodies) {
    TempDir dir;
    std::string body =
        backend() == Backend::Pg
            ? "CREATE PROCEDURE p(INOUT x INT) LANGUAGE plpgsql AS $$ BEGIN x := x + 1; END $$"
            : "CREATE PROCEDURE p(INOUT x INT) BEGIN SET x = x + 1; SELECT 1; END";
    WriteFile(dir / "s.sql",
              "CREATE TABLE t (id INT)\n-- @@\n" + body + "\n-- @@\nINSERT INTO t VALUES (7)\n");
    Db().ExecFile(dir / "s.sql");
    EXPECT_EQ(Db().QueryValue("SELECT id FROM t"), "7");
    std::string countSql =
        backend() == Backend::Pg
            ? "SELECT count(*) FROM pg_proc WHERE proname = 'p'"
            : "SELECT count(*) FROM information_schema.routines WHERE routine_schema = DATABASE() "
              "AND routine_name = 'p'";
    EXPECT_EQ(Db().QueryValue(countSql), "1");
    EXPECT_THROW(Db().Exec("SELECT * FROM no_such_table"), std::runtime_error);
}

INSTANTIATE_TEST_SUITE_P(Backends, TestDatabaseTest, ::testing::ValuesIn(AllBackends()),
                         BackendParamName);

}  // namespace
}  // namespace brimlet::test
