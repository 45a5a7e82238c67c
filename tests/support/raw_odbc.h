#pragma once
// Plain ODBC for the test databases, the procedure tests and the benchmark's floor, kept apart
// from the layer under test on purpose: a fault of the layer must not hide in the code that
// prepares or checks its data. Header only, so that the benchmark builds without the tests.
// Failures throw std::runtime_error with the driver's diagnostics.
#ifdef _WIN32
#include <windows.h>  // before the ODBC headers, which need its types
#endif
// clang-format off
#include <sql.h>
#include <sqlext.h>
// clang-format on

#include <stdexcept>
#include <string>

namespace brimlet::test {

// "SQLSTATE: message" of each diagnostic record of a handle, joined by "; ".
inline std::string RawDiagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string out;
    for (SQLSMALLINT i = 1; i <= 10; ++i) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR msg[1024] = {};
        SQLSMALLINT len = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, state, &native, msg, sizeof msg, &len))) {
            break;
        }
        if (!out.empty()) {
            out += "; ";
        }
        out += reinterpret_cast<const char*>(state);
        out += ": ";
        out += reinterpret_cast<const char*>(msg);
    }
    return out;
}

// Throws "what: diagnostics" unless rc is a success or SQL_NO_DATA.
inline void RawCheck(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA) {
        throw std::runtime_error(what + ": " + RawDiagnostics(type, handle));
    }
}

// One handle, freed on destruction; an environment is set to ODBC 3 at once.
class RawHandle {
  public:
    RawHandle(SQLSMALLINT type, SQLHANDLE parent) : m_type(type) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &m_handle))) {
            throw std::runtime_error("SQLAllocHandle failed");
        }
        if (type == SQL_HANDLE_ENV) {
            SQLSetEnvAttr(m_handle, SQL_ATTR_ODBC_VERSION,
                          reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        }
    }
    ~RawHandle() { SQLFreeHandle(m_type, m_handle); }
    RawHandle(const RawHandle&) = delete;
    RawHandle& operator=(const RawHandle&) = delete;
    SQLHANDLE get() const { return m_handle; }

  private:
    SQLSMALLINT m_type;
    SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

// One connection opened with the connection string alone (10 s login time-out, no prompt).
class RawSession {
  public:
    explicit RawSession(std::string connectionString)
        : m_env(SQL_HANDLE_ENV, SQL_NULL_HANDLE), m_dbc(SQL_HANDLE_DBC, m_env.get()) {
        SQLSetConnectAttr(m_dbc.get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(10), 0);
        RawCheck(SQLDriverConnect(m_dbc.get(), nullptr,
                                  reinterpret_cast<SQLCHAR*>(connectionString.data()), SQL_NTS,
                                  nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
                 SQL_HANDLE_DBC, m_dbc.get(), "connect");
    }
    ~RawSession() { SQLDisconnect(m_dbc.get()); }
    RawSession(const RawSession&) = delete;
    RawSession& operator=(const RawSession&) = delete;
    SQLHDBC dbc() const { return m_dbc.get(); }

  private:
    RawHandle m_env;
    RawHandle m_dbc;
};

// Runs `sql` on a statement whose parameters are bound; the results are left to the caller.
inline SQLRETURN RawExecute(SQLHSTMT stmt, std::string sql, const std::string& what) {
    const SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
    RawCheck(rc, SQL_HANDLE_STMT, stmt, what);
    return rc;
}

}  // namespace brimlet::test
