#include "support/test_db.h"

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace brimlet::test {

namespace {

// Test-side ODBC, kept apart from the layer under test on purpose.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
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

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA) {
        return;
    }
    throw std::runtime_error(what + ": " + Diagnostics(type, handle));
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

class Session {
  public:
    explicit Session(const std::string& connectionString) : m_env(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
        SQLSetEnvAttr(m_env.get(), SQL_ATTR_ODBC_VERSION,
                      reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        m_dbc = std::make_unique<Handle>(SQL_HANDLE_DBC, m_env.get());
        SQLSetConnectAttr(m_dbc->get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(10),
                          0);
        std::string in = connectionString;
        SQLCHAR out[2048];
        SQLSMALLINT outLen = 0;
        Check(SQLDriverConnect(m_dbc->get(), nullptr, reinterpret_cast<SQLCHAR*>(in.data()),
                               SQL_NTS, out, sizeof out, &outLen, SQL_DRIVER_NOPROMPT),
              SQL_HANDLE_DBC, m_dbc->get(), "connect");
    }
    ~Session() { SQLDisconnect(m_dbc->get()); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Runs sql; with rows != nullptr collects the first result set that has columns.
    void Run(const std::string& sql, std::vector<Row>* rows) {
        Handle stmt(SQL_HANDLE_STMT, m_dbc->get());
        std::string text = sql;
        SQLRETURN rc = SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
        Check(rc, SQL_HANDLE_STMT, stmt.get(), "statement failed: " + sql + "\n");
        bool collected = false;
        while (rc != SQL_NO_DATA) {
            SQLSMALLINT cols = 0;
            Check(SQLNumResultCols(stmt.get(), &cols), SQL_HANDLE_STMT, stmt.get(),
                  "SQLNumResultCols");
            if (cols > 0 && rows != nullptr && !collected) {
                Collect(stmt.get(), cols, *rows);
                collected = true;
            }
            rc = SQLMoreResults(stmt.get());
            Check(rc, SQL_HANDLE_STMT, stmt.get(), "statement failed: " + sql + "\n");
        }
    }

  private:
    static void Collect(SQLHSTMT stmt, SQLSMALLINT cols, std::vector<Row>& rows) {
        std::vector<SQLSMALLINT> types(cols);
        for (SQLSMALLINT c = 1; c <= cols; ++c) {
            SQLCHAR name[256];
            SQLSMALLINT nameLen = 0, nullable = 0, digits = 0;
            SQLULEN size = 0;
            Check(SQLDescribeCol(stmt, c, name, sizeof name, &nameLen, &types[c - 1], &size,
                                 &digits, &nullable),
                  SQL_HANDLE_STMT, stmt, "SQLDescribeCol");
        }
        SQLRETURN rc;
        while ((rc = SQLFetch(stmt)) != SQL_NO_DATA) {
            Check(rc, SQL_HANDLE_STMT, stmt, "SQLFetch");
            Row row;
            for (SQLSMALLINT c = 1; c <= cols; ++c) {
                SQLLEN ind = 0;
                if (types[c - 1] == SQL_BIT) {
                    unsigned char bit = 0;
                    Check(SQLGetData(stmt, c, SQL_C_BIT, &bit, sizeof bit, &ind), SQL_HANDLE_STMT,
                          stmt, "SQLGetData");
                    row.push_back(ind == SQL_NULL_DATA
                                      ? std::nullopt
                                      : std::optional<std::string>(bit ? "1" : "0"));
                    continue;
                }
                std::string value;
                char buf[4096];
                bool isNull = false;
                for (;;) {
                    SQLRETURN g = SQLGetData(stmt, c, SQL_C_CHAR, buf, sizeof buf, &ind);
                    if (g == SQL_NO_DATA) {
                        break;
                    }
                    Check(g, SQL_HANDLE_STMT, stmt, "SQLGetData");
                    if (ind == SQL_NULL_DATA) {
                        isNull = true;
                        break;
                    }
                    if (g == SQL_SUCCESS) {
                        value.append(buf, static_cast<std::size_t>(ind));
                        break;
                    }
                    value.append(buf);  // truncated piece, NUL-terminated
                }
                row.push_back(isNull ? std::nullopt : std::optional<std::string>(std::move(value)));
            }
            rows.push_back(std::move(row));
        }
    }

    Handle m_env;
    std::unique_ptr<Handle> m_dbc;
};

// Replaces (or adds) the Database=... item of a connection string.
std::string WithDatabase(const std::string& connectionString, const std::string& name) {
    std::string out;
    bool replaced = false;
    std::stringstream in(connectionString);
    std::string item;
    while (std::getline(in, item, ';')) {
        if (item.empty()) {
            continue;
        }
        std::string key = item.substr(0, item.find('='));
        for (char& ch : key) {
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
        if (key == "database") {
            item = "Database=" + name;
            replaced = true;
        }
        out += item + ";";
    }
    if (!replaced) {
        out += "Database=" + name + ";";
    }
    return out;
}

std::string UniqueName() {
    std::random_device rd;
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::ostringstream name;
    name << "brimlet_t_" << ::getpid() << "_" << std::hex
         << (static_cast<unsigned long long>(now) & 0xffffffffULL) << "_" << rd();
    return name.str();
}

bool IsBlankPiece(std::string_view piece) {
    std::istringstream in{std::string(piece)};
    std::string line;
    while (std::getline(in, line)) {
        auto first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos && line.compare(first, 2, "--") != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string BackendName(Backend backend) {
    return backend == Backend::Pg ? "Pg" : "MariaDb";
}

std::string BackendParamName(const ::testing::TestParamInfo<Backend>& info) {
    return BackendName(info.param);
}

std::vector<Backend> AllBackends() {
    return {Backend::Pg, Backend::MariaDb};
}

std::string BackendEnvVar(Backend backend) {
    return backend == Backend::Pg ? "BRIMLET_TEST_PG" : "BRIMLET_TEST_MARIADB";
}

std::optional<std::string> AdminConnectionString(Backend backend) {
    const char* value = std::getenv(BackendEnvVar(backend).c_str());
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

std::vector<Backend> ConfiguredBackends() {
    std::vector<Backend> out;
    for (Backend b : AllBackends()) {
        if (AdminConnectionString(b)) {
            out.push_back(b);
        }
    }
    return out;
}

bool RequireDb() {
    const char* value = std::getenv("BRIMLET_TEST_REQUIRE_DB");
    return value != nullptr && std::string_view(value) == "1";
}

std::optional<std::string> MissingBackendReason(Backend backend) {
    if (AdminConnectionString(backend)) {
        return std::nullopt;
    }
    return BackendEnvVar(backend) + " is not set (start the servers with scripts/test)";
}

std::vector<std::string> SplitSqlScript(std::string_view text) {
    std::vector<std::string> out;
    std::string piece;
    std::istringstream in{std::string(text)};
    std::string line;
    auto flush = [&] {
        if (!IsBlankPiece(piece)) {
            out.push_back(piece);
        }
        piece.clear();
    };
    while (std::getline(in, line)) {
        auto first = line.find_first_not_of(" \t\r");
        auto last = line.find_last_not_of(" \t\r");
        if (first != std::string::npos && line.substr(first, last - first + 1) == "-- @@") {
            flush();
            continue;
        }
        piece += line;
        piece += '\n';
    }
    flush();
    return out;
}

struct TestDatabase::Impl {
    Backend backend;
    std::string admin;
    std::string name;
    std::string connectionString;
    std::unique_ptr<Session> session;
};

TestDatabase::TestDatabase(Backend backend) : m_impl(std::make_unique<Impl>()) {
    auto admin = AdminConnectionString(backend);
    if (!admin) {
        throw std::runtime_error(*MissingBackendReason(backend));
    }
    m_impl->backend = backend;
    m_impl->admin = *admin;
    m_impl->name = UniqueName();
    m_impl->connectionString = WithDatabase(*admin, m_impl->name);
    {
        Session adminSession(m_impl->admin);
        adminSession.Run("CREATE DATABASE " + m_impl->name, nullptr);
    }
    m_impl->session = std::make_unique<Session>(m_impl->connectionString);
}

TestDatabase::~TestDatabase() {
    m_impl->session.reset();
    try {
        Session adminSession(m_impl->admin);
        // FORCE: a connection the test leaked must not keep the database alive.
        adminSession.Run(m_impl->backend == Backend::Pg
                             ? "DROP DATABASE IF EXISTS " + m_impl->name + " WITH (FORCE)"
                             : "DROP DATABASE IF EXISTS " + m_impl->name,
                         nullptr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "TestDatabase: could not drop %s: %s\n", m_impl->name.c_str(),
                     e.what());
    }
}

Backend TestDatabase::backend() const {
    return m_impl->backend;
}
const std::string& TestDatabase::Name() const {
    return m_impl->name;
}
const std::string& TestDatabase::ConnectionString() const {
    return m_impl->connectionString;
}

void TestDatabase::Exec(const std::string& sql) {
    m_impl->session->Run(sql, nullptr);
}

void TestDatabase::ExecScript(std::string_view text) {
    for (const auto& piece : SplitSqlScript(text)) {
        Exec(piece);
    }
}

void TestDatabase::ExecFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream content;
    content << in.rdbuf();
    ExecScript(content.str());
}

std::vector<Row> TestDatabase::Query(const std::string& sql) {
    std::vector<Row> rows;
    m_impl->session->Run(sql, &rows);
    return rows;
}

std::optional<std::string> TestDatabase::QueryValue(const std::string& sql) {
    auto rows = Query(sql);
    if (rows.empty() || rows[0].empty()) {
        throw std::runtime_error("no row from: " + sql);
    }
    return rows[0][0];
}

void BackendTest::SetUp() {
    BRIMLET_REQUIRE_BACKEND(GetParam());
    m_db = std::make_unique<TestDatabase>(GetParam());
}

void BackendTest::TearDown() {
    m_db.reset();
}

TestDatabase& BackendTest::Db() {
    if (!m_db) {
        throw std::runtime_error("BackendTest::Db() used outside SetUp/TearDown");
    }
    return *m_db;
}

}  // namespace brimlet::test
