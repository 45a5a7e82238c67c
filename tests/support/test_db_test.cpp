// The test database helper itself: other areas' database tests stand on it.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/test_db.h"

namespace brimlet::test {
namespace {

// The splitter reads scripts as psql and the mariadb client do: a statement ends at the
// delimiter only outside quotes, dollar quotes and comments.
TEST(SplitSqlScript, EndsStatementsWhereTheStockClientsDo) {
    using Pieces = std::vector<std::string>;
    struct Case {
        const char* what;
        Backend backend;
        const char* text;
        Pieces want;
    };
    const Case cases[] = {
        {"plain statements, the last without its delimiter", Backend::Pg,
         "CREATE TABLE t (a INT);\n  INSERT INTO t VALUES (1); SELECT 2\n",
         Pieces{"CREATE TABLE t (a INT)", "INSERT INTO t VALUES (1)", "SELECT 2"}},
        {"blank and comment-only pieces", Backend::Pg, "-- header; comment\n;\n/* a; b */;\n\n",
         Pieces{}},
        {"semicolons in quotes and comments", Backend::Pg,
         "SELECT 'a;''b', \"x;y\" -- c;d\n, 1 /* e; /* nested; */ f; */;SELECT 3;",
         Pieces{"SELECT 'a;''b', \"x;y\" -- c;d\n, 1 /* e; /* nested; */ f; */", "SELECT 3"}},
        {"an E'' string escapes its quote, a plain one does not", Backend::Pg,
         "SELECT E'it\\'s;', 'c:\\';SELECT 4", Pieces{"SELECT E'it\\'s;', 'c:\\'", "SELECT 4"}},
        {"dollar quotes, tagged and not; $1 and a$b$ open none", Backend::Pg,
         "CREATE FUNCTION f(int) AS $fn$ SELECT $1; $$;$$ $fn$;\nSELECT a$b$;SELECT $$x;$$",
         Pieces{"CREATE FUNCTION f(int) AS $fn$ SELECT $1; $$;$$ $fn$", "SELECT a$b$",
                "SELECT $$x;$$"}},
        {"DELIMITER lines around a procedure body", Backend::MariaDb,
         "CREATE TABLE t (a INT);\ndelimiter //\nCREATE PROCEDURE p() BEGIN SELECT 1; END //\n"
         "DELIMITER ;\nINSERT INTO t VALUES (1);",
         Pieces{"CREATE TABLE t (a INT)", "CREATE PROCEDURE p() BEGIN SELECT 1; END",
                "INSERT INTO t VALUES (1)"}},
        {"MariaDB quoting and comments", Backend::MariaDb,
         "SELECT 'it\\'s;', `a;b` # x;y\n, 5--1;-- c;d\nSELECT 6",
         Pieces{"SELECT 'it\\'s;', `a;b` # x;y\n, 5--1", "-- c;d\nSELECT 6"}},
        {"$$ opens no quote for MariaDB", Backend::MariaDb, "SELECT '$$';SELECT $$;",
         Pieces{"SELECT '$$'", "SELECT $$"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitSqlScript(c.text, c.backend), c.want) << c.what;
    }
    EXPECT_EQ(SplitSqlScript("DELIMITER //\nSELECT 1 //", Backend::Pg),
              (Pieces{"DELIMITER //\nSELECT 1 //"}));
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
            ? "CREATE PROCEDURE p(INOUT x INT) LANGUAGE plpgsql AS $$ BEGIN x := x + 1; END $$;"
            : "DELIMITER //\nCREATE PROCEDURE p(INOUT x INT) BEGIN SET x = x + 1; SELECT 1; END "
              "//\n"
              "DELIMITER ;";
    WriteFile(dir / "s.sql", "CREATE TABLE t (id INT);\n" + body + "\nINSERT INTO t VALUES (7);\n");
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
