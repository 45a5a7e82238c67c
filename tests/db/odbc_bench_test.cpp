// Fetch throughput of 1,000,000 rows x 12 columns. Disabled by default (it takes seconds);
// run with --gtest_also_run_disabled_tests --gtest_filter='*Fetch*'.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include <gtest/gtest.h>

#include "db/odbc.h"
#include "support/test_db.h"

namespace brimlet::db {
namespace {

class OdbcBench : public test::BackendTest {};

TEST_P(OdbcBench, DISABLED_FetchAMillionRowsOfTwelveColumns) {
    const bool pg = backend() == test::Backend::Pg;
    // Half the columns bounded text, so the row-array path is the one measured;
    // BRIMLET_BENCH_TEXT=1 adds an unbounded text column, which makes the fetch go cell by cell.
    const bool unbounded = std::getenv("BRIMLET_BENCH_TEXT") != nullptr;
    const std::string last =
        unbounded ? (pg ? "(i::text || 'z')::text" : "CAST(CONCAT(seq, 'z') AS CHAR(10000))")
                  : (pg ? "(i::text || 'z')::varchar(20)" : "CAST(CONCAT(seq, 'z') AS CHAR(20))");
    if (pg) {
        Db().Exec(
            "CREATE FUNCTION big() RETURNS TABLE (\"Type\" VARCHAR(20), \"Name\" VARCHAR(50), c3 "
            "VARCHAR(200), "
            "c4 VARCHAR(32), c5 VARCHAR(10), c6 VARCHAR(20), c7 INT, c8 BIGINT, c9 BOOLEAN, c10 "
            "NUMERIC(10,2), "
            "c11 TIMESTAMP, c12 VARCHAR) LANGUAGE sql AS $$ SELECT ('t' || (i % 7))::varchar(20), "
            "('name' || i)::varchar(50), repeat('p', 40)::varchar(200), md5(i::text)::varchar(32), "
            "'A'::varchar(10), '1.2.3'::varchar(20), i, i * 1000, i % 2 = 0, (i / "
            "100.0)::numeric(10,2), "
            "TIMESTAMP '2024-01-01 00:00:00', " +
            last + " FROM generate_series(1, 1000000) AS i $$");
    } else {
        Db().Exec(
            "CREATE PROCEDURE big() BEGIN SELECT CONCAT('t', seq % 7) AS Type, CONCAT('name', seq) "
            "AS Name, "
            "REPEAT('p', 40) AS c3, MD5(seq) AS c4, 'A' AS c5, '1.2.3' AS c6, CAST(seq AS INT) AS "
            "c7, "
            "seq * 1000 AS c8, CAST(seq % 2 = 0 AS UNSIGNED) AS c9, CAST(seq / 100 AS "
            "DECIMAL(10,2)) AS c10, "
            "TIMESTAMP '2024-01-01 00:00:00' AS c11, " +
            last + " AS c12 FROM seq_1_to_1000000; END");
    }
    Connection c;
    c.SetConnectionString(Db().ConnectionString());
    c.SetConnectionTimeout("10");
    c.SetCommandTimeout("300");
    c.Open();
    Command cmd;
    cmd.SetActiveConnection(c);
    cmd.SetCommandText("big");
    cmd.SetCommandTimeout(300);
    auto start = std::chrono::steady_clock::now();
    RecordSet rs = cmd.Execute();
    auto fetched = std::chrono::steady_clock::now();
    rs.Sort("Type ASC");
    auto sorted = std::chrono::steady_clock::now();
    ASSERT_EQ(rs.RowCount(), 1000000u);
    std::size_t bytes = 0;
    const std::size_t name = rs.ColumnIndex("name");
    for (; !rs.Eof(); rs.MoveNext()) {
        bytes += rs.Field(name)->size();
    }
    auto read = std::chrono::steady_clock::now();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto secs = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
    auto cpu = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    std::printf(
        "%s%s: execute+fetch %.2f s, sort %.2f s, read one column %.2f s; this process: "
        "CPU %.2f s user + %.2f s sys, max RSS %ld MiB\n",
        test::BackendName(backend()).c_str(), unbounded ? " (unbounded column)" : "",
        secs(start, fetched), secs(fetched, sorted), secs(sorted, read), cpu(usage.ru_utime),
        cpu(usage.ru_stime), usage.ru_maxrss / 1024);
    EXPECT_GT(bytes, 0u);
}

INSTANTIATE_TEST_SUITE_P(Backends, OdbcBench, ::testing::ValuesIn(test::AllBackends()),
                         test::BackendParamName);

}  // namespace
}  // namespace brimlet::db
