// Fetch throughput of the program's ODBC layer: 1,000,000 rows x 12 columns fetched into a
// record set, sorted by caller keys as the body procedure sorts, and one column read back.
//
//   brimlet_odbc_fetch CONNECTION_STRING pg|mariadb [unbounded]
//
// The connection string names a scratch database; the procedure "big" is created there and
// dropped again. Half the columns are bounded text, so the row-array path is the one measured;
// "unbounded" adds an unbounded text column, which makes the fetch go cell by cell.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"
#include "db/odbc.h"
#include "support/raw_odbc.h"
#include "xml/xml_body.h"

namespace {

// Runs one statement that is not a stored-procedure call (DDL) on a connection of its own, so
// that nothing beside the layer's connection is open while it is measured.
void Exec(const std::string& connectionString, const std::string& sql) {
    const brimlet::test::RawSession session(connectionString);
    brimlet::test::RawHandle stmt(SQL_HANDLE_STMT, session.dbc());
    brimlet::test::RawExecute(stmt.get(), sql, "SQLExecDirect");
}

std::string CreateBig(bool pg, bool unbounded) {
    const std::string last =
        unbounded ? (pg ? "(i::text || 'z')::text" : "CAST(CONCAT(seq, 'z') AS CHAR(10000))")
                  : (pg ? "(i::text || 'z')::varchar(20)" : "CAST(CONCAT(seq, 'z') AS CHAR(20))");
    if (pg) {
        return "CREATE FUNCTION big() RETURNS TABLE (\"Type\" VARCHAR(20), \"Name\" VARCHAR(50), "
               "c3 VARCHAR(200), c4 VARCHAR(32), c5 VARCHAR(10), c6 VARCHAR(20), c7 INT, "
               "c8 BIGINT, c9 BOOLEAN, c10 NUMERIC(10,2), c11 TIMESTAMP, c12 VARCHAR) "
               "LANGUAGE sql AS $$ SELECT ('t' || (i % 7))::varchar(20), "
               "('name' || i)::varchar(50), repeat('p', 40)::varchar(200), "
               "md5(i::text)::varchar(32), 'A'::varchar(10), '1.2.3'::varchar(20), i, i * 1000, "
               "i % 2 = 0, (i / 100.0)::numeric(10,2), TIMESTAMP '2024-01-01 00:00:00', " +
               last + " FROM generate_series(1, 1000000) AS i $$";
    }
    return "CREATE PROCEDURE big() BEGIN SELECT CONCAT('t', seq % 7) AS Type, "
           "CONCAT('name', seq) AS Name, REPEAT('p', 40) AS c3, MD5(seq) AS c4, 'A' AS c5, "
           "'1.2.3' AS c6, CAST(seq AS INT) AS c7, seq * 1000 AS c8, "
           "CAST(seq % 2 = 0 AS UNSIGNED) AS c9, CAST(seq / 100 AS DECIMAL(10,2)) AS c10, "
           "TIMESTAMP '2024-01-01 00:00:00' AS c11, " +
           last + " AS c12 FROM seq_1_to_1000000; END";
}

int Measure(const std::string& connectionString, bool pg, bool unbounded) {
    using brimlet::db::Command;
    using brimlet::db::Connection;
    using brimlet::db::RecordSet;
    Connection c;
    c.SetConnectionString(connectionString);
    c.SetConnectionTimeout(10);
    c.SetCommandTimeout(300);
    c.Open();
    const std::string drop = pg ? "DROP FUNCTION IF EXISTS big()" : "DROP PROCEDURE IF EXISTS big";
    Exec(connectionString, drop);
    Exec(connectionString, CreateBig(pg, unbounded));

    Command cmd;
    cmd.SetActiveConnection(c);
    cmd.SetCommandText("big");
    const auto start = std::chrono::steady_clock::now();
    RecordSet rs = cmd.Execute();
    const auto fetched = std::chrono::steady_clock::now();
    std::vector<std::string_view> types;
    types.reserve(rs.RowCount());
    const std::size_t type = rs.ColumnIndex("type");
    for (; !rs.Eof(); rs.MoveNext()) {
        types.push_back(rs.Field(type).value_or(""));
    }
    rs.KeepRows(brimlet::PlanBody(types).order);
    const auto sorted = std::chrono::steady_clock::now();
    std::size_t bytes = 0;
    const std::size_t name = rs.ColumnIndex("name");
    for (; !rs.Eof(); rs.MoveNext()) {
        bytes += rs.Field(name).value_or("").size();
    }
    const auto read = std::chrono::steady_clock::now();
    const std::size_t rows = rs.RowCount();
    rs.Close();
    Exec(connectionString, drop);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto secs = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
    auto cpu = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    std::printf(
        "%s%s: rows %zu, execute+fetch %.2f s, keys and sort %.2f s, read one column %.2f s "
        "(%zu bytes); this process: CPU %.2f s user + %.2f s sys, max RSS %ld MiB\n",
        pg ? "pg" : "mariadb", unbounded ? " (unbounded column)" : "", rows, secs(start, fetched),
        secs(fetched, sorted), secs(sorted, read), bytes, cpu(usage.ru_utime), cpu(usage.ru_stime),
        usage.ru_maxrss / 1024);
    return rows == 1000000 && bytes > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string backend = argc > 2 ? argv[2] : "";
    if (argc < 3 || argc > 4 || (backend != "pg" && backend != "mariadb") ||
        (argc == 4 && std::string(argv[3]) != "unbounded")) {
        std::fprintf(stderr, "usage: %s CONNECTION_STRING pg|mariadb [unbounded]\n", argv[0]);
        return 2;
    }
    try {
        return Measure(argv[1], backend == "pg", argc == 4);
    } catch (const brimlet::Failure& f) {
        std::fprintf(stderr, "failed: %d %s\n", f.number(), f.description().c_str());
        return 1;
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
}
