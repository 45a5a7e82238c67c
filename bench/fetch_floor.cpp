// The floor of the component query: the same call, driver and connection string as the program
// (with what the program adds to it, such as psqlODBC's fetch mode), fetched as fast as ODBC
// allows (column-wise bound row arrays) and thrown away. What the program spends beyond this is
// its own work.
//
//   brimlet_fetch_floor CONNECTION_STRING OS_TYPE AGENT_TYPE [ROW_ARRAY_SIZE] [char|wchar]
//
// Prints "rows <n> bytes <n>" (bytes: the value bytes as the driver delivered them).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/odbc_internal.h"
#include "support/raw_odbc.h"

namespace {

using brimlet::test::RawCheck;
using brimlet::test::RawExecute;
using brimlet::test::RawHandle;
using brimlet::test::RawSession;

struct Column {
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLLEN width = 0;
    std::vector<char> buffer;
    std::vector<SQLLEN> indicators;
};

int Run(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: %s CONNECTION_STRING OS_TYPE AGENT_TYPE [ROW_ARRAY_SIZE] "
                     "[char|wchar]\n",
                     argv[0]);
        return 2;
    }
    const std::string connectionString = brimlet::db::EffectiveConnectionString(argv[1], 0, "");
    std::string osType = argv[2];
    std::string agentType = argv[3];
    const SQLULEN arraySize = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 1024;
    const bool wide = argc > 5 && std::string(argv[5]) == "wchar";

    RawSession session(connectionString);
    {
        RawHandle stmt(SQL_HANDLE_STMT, session.dbc());
        SQLLEN osLength = static_cast<SQLLEN>(osType.size());
        SQLLEN agentLength = static_cast<SQLLEN>(agentType.size());
        RawCheck(SQLBindParameter(stmt.get(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 50, 0,
                                  osType.data(), osLength, &osLength),
                 SQL_HANDLE_STMT, stmt.get(), "SQLBindParameter");
        RawCheck(SQLBindParameter(stmt.get(), 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0,
                                  agentType.data(), agentLength, &agentLength),
                 SQL_HANDLE_STMT, stmt.get(), "SQLBindParameter");
        // The statement the program sends through this driver.
        std::array<SQLCHAR, 256> driver{};
        SQLSMALLINT driverLength = 0;
        RawCheck(SQLGetInfo(session.dbc(), SQL_DRIVER_NAME, driver.data(),
                            static_cast<SQLSMALLINT>(driver.size()), &driverLength),
                 SQL_HANDLE_DBC, session.dbc(), "SQLGetInfo");
        const std::string name(reinterpret_cast<const char*>(driver.data()));
        const bool psqlOdbc = name.find("psqlodbc") != std::string::npos;
        RawExecute(stmt.get(), brimlet::db::CallText("USP_AgentComponent_Details", 2, psqlOdbc),
                   "SQLExecDirect");

        SQLSMALLINT count = 0;
        RawCheck(SQLNumResultCols(stmt.get(), &count), SQL_HANDLE_STMT, stmt.get(),
                 "SQLNumResultCols");
        std::vector<Column> columns(static_cast<std::size_t>(count));
        SQLULEN fetched = 0;
        RawCheck(SQLSetStmtAttr(stmt.get(), SQL_ATTR_ROW_BIND_TYPE,
                                reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0),
                 SQL_HANDLE_STMT, stmt.get(), "SQL_ATTR_ROW_BIND_TYPE");
        RawCheck(SQLSetStmtAttr(stmt.get(), SQL_ATTR_ROW_ARRAY_SIZE,
                                // NOLINTNEXTLINE(performance-no-int-to-ptr): ODBC's own way
                                reinterpret_cast<SQLPOINTER>(arraySize), 0),
                 SQL_HANDLE_STMT, stmt.get(), "SQL_ATTR_ROW_ARRAY_SIZE");
        RawCheck(SQLSetStmtAttr(stmt.get(), SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0),
                 SQL_HANDLE_STMT, stmt.get(), "SQL_ATTR_ROWS_FETCHED_PTR");
        for (SQLSMALLINT c = 1; c <= count; ++c) {
            SQLCHAR name[256] = {};
            SQLSMALLINT nameLength = 0;
            SQLSMALLINT type = 0;
            SQLULEN size = 0;
            SQLSMALLINT digits = 0;
            SQLSMALLINT nullable = 0;
            RawCheck(SQLDescribeCol(stmt.get(), static_cast<SQLUSMALLINT>(c), name, sizeof name,
                                    &nameLength, &type, &size, &digits, &nullable),
                     SQL_HANDLE_STMT, stmt.get(), "SQLDescribeCol");
            Column& col = columns[static_cast<std::size_t>(c - 1)];
            if (type == SQL_BIT) {
                col.cType = SQL_C_BIT;
                col.width = 1;
            } else {
                // Characters as the driver sizes them; UTF-8 needs up to 4 bytes each.
                const SQLULEN chars = std::clamp<SQLULEN>(size, 1, 8000);
                col.cType = wide ? SQL_C_WCHAR : SQL_C_CHAR;
                col.width = static_cast<SQLLEN>(wide ? chars * 2 + 2 : chars * 4 + 1);
            }
            col.buffer.resize(static_cast<std::size_t>(col.width) * arraySize);
            col.indicators.resize(arraySize);
            RawCheck(SQLBindCol(stmt.get(), static_cast<SQLUSMALLINT>(c), col.cType,
                                col.buffer.data(), col.width, col.indicators.data()),
                     SQL_HANDLE_STMT, stmt.get(), "SQLBindCol");
        }
        std::uint64_t rows = 0;
        std::uint64_t bytes = 0;
        for (;;) {
            const SQLRETURN rc = SQLFetchScroll(stmt.get(), SQL_FETCH_NEXT, 0);
            if (rc == SQL_NO_DATA) {
                break;
            }
            RawCheck(rc, SQL_HANDLE_STMT, stmt.get(), "SQLFetchScroll");
            rows += fetched;
            for (const Column& col : columns) {
                for (SQLULEN r = 0; r < fetched; ++r) {
                    if (col.indicators[r] > 0) {
                        bytes += static_cast<std::uint64_t>(col.indicators[r]);
                    }
                }
            }
        }
        std::printf("rows %llu bytes %llu\n", static_cast<unsigned long long>(rows),
                    static_cast<unsigned long long>(bytes));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brimlet_fetch_floor: %s\n", e.what());
        return 1;
    }
}
