// The floor of the component query: the same call, driver and connection string as the program,
// fetched as fast as ODBC allows (column-wise bound row arrays) and thrown away. What the
// program spends beyond this is its own work.
//
//   brimlet_fetch_floor CONNECTION_STRING OS_TYPE AGENT_TYPE [ROW_ARRAY_SIZE] [char|wchar]
//
// Prints "rows <n> bytes <n>" (bytes: the value bytes as the driver delivered them).
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string text;
    for (SQLSMALLINT i = 1; i <= 5; ++i) {
        SQLCHAR state[6] = {};
        SQLCHAR message[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(
                SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length))) {
            break;
        }
        text += reinterpret_cast<const char*>(state);
        text += ": ";
        text += reinterpret_cast<const char*>(message);
        text += "; ";
    }
    return text;
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
        throw std::runtime_error(std::string(what) + " failed: " + Diagnostics(type, handle));
    }
}

class Handle {
  public:
    Handle(SQLSMALLINT type, SQLHANDLE parent) : m_type(type) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &m_handle))) {
            throw std::runtime_error("SQLAllocHandle failed");
        }
    }
    ~Handle() { SQLFreeHandle(m_type, m_handle); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    SQLHANDLE get() const { return m_handle; }

  private:
    SQLSMALLINT m_type;
    SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

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
    std::string connectionString = argv[1];
    std::string osType = argv[2];
    std::string agentType = argv[3];
    const SQLULEN arraySize = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 1024;
    const bool wide = argc > 5 && std::string(argv[5]) == "wchar";

    Handle env(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    Check(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                        reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          SQL_HANDLE_ENV, env.get(), "SQLSetEnvAttr");
    Handle dbc(SQL_HANDLE_DBC, env.get());
    Check(SQLDriverConnect(dbc.get(), nullptr, reinterpret_cast<SQLCHAR*>(connectionString.data()),
                           SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, dbc.get(), "SQLDriverConnect");
    {
        Handle stmt(SQL_HANDLE_STMT, dbc.get());
        SQLLEN osLength = static_cast<SQLLEN>(osType.size());
        SQLLEN agentLength = static_cast<SQLLEN>(agentType.size());
        Check(SQLBindParameter(stmt.get(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 50, 0,
                               osType.data(), osLength, &osLength),
              SQL_HANDLE_STMT, stmt.get(), "SQLBindParameter");
        Check(SQLBindParameter(stmt.get(), 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0,
                               agentType.data(), agentLength, &agentLength),
              SQL_HANDLE_STMT, stmt.get(), "SQLBindParameter");
        std::string call = "{call USP_AgentComponent_Details(?, ?)}";
        Check(SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(call.data()), SQL_NTS),
              SQL_HANDLE_STMT, stmt.get(), "SQLExecDirect");

        SQLSMALLINT count = 0;
        Check(SQLNumResultCols(stmt.get(), &count), SQL_HANDLE_STMT, stmt.get(),
              "SQLNumResultCols");
        std::vector<Column> columns(static_cast<std::size_t>(count));
        SQLULEN fetched = 0;
        Check(SQLSetStmtAttr(stmt.get(), SQL_ATTR_ROW_BIND_TYPE,
                             reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0),
              SQL_HANDLE_STMT, stmt.get(), "SQL_ATTR_ROW_BIND_TYPE");
        Check(SQLSetStmtAttr(stmt.get(), SQL_ATTR_ROW_ARRAY_SIZE,
                             reinterpret_cast<SQLPOINTER>(arraySize), 0),
              SQL_HANDLE_STMT, stmt.get(), "SQL_ATTR_ROW_ARRAY_SIZE");
        Check(SQLSetStmtAttr(stmt.get(), SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_HANDLE_STMT,
              stmt.get(), "SQL_ATTR_ROWS_FETCHED_PTR");
        for (SQLSMALLINT c = 1; c <= count; ++c) {
            SQLCHAR name[256] = {};
            SQLSMALLINT nameLength = 0;
            SQLSMALLINT type = 0;
            SQLULEN size = 0;
            SQLSMALLINT digits = 0;
            SQLSMALLINT nullable = 0;
            Check(SQLDescribeCol(stmt.get(), static_cast<SQLUSMALLINT>(c), name, sizeof name,
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
            Check(SQLBindCol(stmt.get(), static_cast<SQLUSMALLINT>(c), col.cType, col.buffer.data(),
                             col.width, col.indicators.data()),
                  SQL_HANDLE_STMT, stmt.get(), "SQLBindCol");
        }
        std::uint64_t rows = 0;
        std::uint64_t bytes = 0;
        for (;;) {
            const SQLRETURN rc = SQLFetchScroll(stmt.get(), SQL_FETCH_NEXT, 0);
            if (rc == SQL_NO_DATA) {
                break;
            }
            Check(rc, SQL_HANDLE_STMT, stmt.get(), "SQLFetchScroll");
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
    SQLDisconnect(dbc.get());
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
