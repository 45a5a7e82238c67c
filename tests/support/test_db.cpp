#include "support/test_db.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "common/text.h"
#include "support/raw_odbc.h"

namespace brimlet::test {

namespace {

class Session {
  public:
    explicit Session(const std::string& connectionString) : m_raw(connectionString) {}

    // Runs sql; with rows != nullptr collects the first result set that has columns.
    void Run(const std::string& sql, std::vector<Row>* rows) {
        RawHandle stmt(SQL_HANDLE_STMT, m_raw.dbc());
        SQLRETURN rc = RawExecute(stmt.get(), sql, "statement failed: " + sql + "\n");
        bool collected = false;
        while (rc != SQL_NO_DATA) {
            SQLSMALLINT cols = 0;
            RawCheck(SQLNumResultCols(stmt.get(), &cols), SQL_HANDLE_STMT, stmt.get(),
                     "SQLNumResultCols");
            if (cols > 0 && rows != nullptr && !collected) {
                Collect(stmt.get(), cols, *rows);
                collected = true;
            }
            rc = SQLMoreResults(stmt.get());
            RawCheck(rc, SQL_HANDLE_STMT, stmt.get(), "statement failed: " + sql + "\n");
        }
    }

  private:
    static void Collect(SQLHSTMT stmt, SQLSMALLINT cols, std::vector<Row>& rows) {
        std::vector<SQLSMALLINT> types(cols);
        for (SQLSMALLINT c = 1; c <= cols; ++c) {
            SQLCHAR name[256];
            SQLSMALLINT nameLen = 0, nullable = 0, digits = 0;
            SQLULEN size = 0;
            RawCheck(SQLDescribeCol(stmt, c, name, sizeof name, &nameLen, &types[c - 1], &size,
                                    &digits, &nullable),
                     SQL_HANDLE_STMT, stmt, "SQLDescribeCol");
        }
        SQLRETURN rc;
        while ((rc = SQLFetch(stmt)) != SQL_NO_DATA) {
            RawCheck(rc, SQL_HANDLE_STMT, stmt, "SQLFetch");
            Row row;
            for (SQLSMALLINT c = 1; c <= cols; ++c) {
                SQLLEN ind = 0;
                if (types[c - 1] == SQL_BIT) {
                    unsigned char bit = 0;
                    RawCheck(SQLGetData(stmt, c, SQL_C_BIT, &bit, sizeof bit, &ind),
                             SQL_HANDLE_STMT, stmt, "SQLGetData");
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
                    RawCheck(g, SQL_HANDLE_STMT, stmt, "SQLGetData");
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

    RawSession m_raw;
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

int ProcessId() {
#ifdef _WIN32
    return _getpid();
#else
    return ::getpid();
#endif
}

std::string UniqueName() {
    std::random_device rd;
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::ostringstream name;
    name << "brimlet_t_" << ProcessId() << "_" << std::hex
         << (static_cast<unsigned long long>(now) & 0xffffffffULL) << "_" << rd();
    return name.str();
}

bool IsIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The end of a quoted text that opens at text[i] (one past the closing quote, or the end of the
// text). A doubled quote stands for itself; `backslash` lets a backslash escape any character.
std::size_t QuotedEnd(std::string_view text, std::size_t i, bool backslash) {
    const char quote = text[i];
    for (std::size_t j = i + 1; j < text.size(); ++j) {
        if (backslash && text[j] == '\\') {
            ++j;
        } else if (text[j] == quote) {
            if (j + 1 < text.size() && text[j + 1] == quote) {
                ++j;
            } else {
                return j + 1;
            }
        }
    }
    return text.size();
}

// A PostgreSQL dollar quote opening at text[i] ("$$" or "$tag$"): its end, or npos when the
// "$" opens none (a parameter "$1", or part of a name).
std::size_t DollarQuotedEnd(std::string_view text, std::size_t i) {
    if (i > 0 && IsIdentChar(text[i - 1])) {
        return std::string_view::npos;
    }
    std::size_t j = i + 1;
    if (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])) != 0) {
        return std::string_view::npos;
    }
    while (j < text.size() && text[j] != '$' && IsIdentChar(text[j])) {
        ++j;
    }
    if (j >= text.size() || text[j] != '$') {
        return std::string_view::npos;
    }
    const std::string_view tag = text.substr(i, j - i + 1);
    const std::size_t close = text.find(tag, j + 1);
    return close == std::string_view::npos ? text.size() : close + tag.size();
}

// The end of a block comment opening at text[i]; PostgreSQL nests them, MariaDB does not.
std::size_t BlockCommentEnd(std::string_view text, std::size_t i, bool nested) {
    int depth = 0;
    for (std::size_t j = i; j + 1 < text.size(); ++j) {
        if (text.compare(j, 2, "/*") == 0 && (nested || depth == 0)) {
            ++depth;
            ++j;
        } else if (text.compare(j, 2, "*/") == 0) {
            if (--depth == 0) {
                return j + 2;
            }
            ++j;
        }
    }
    return text.size();
}

// A MariaDB client "DELIMITER x" line starting at text[i]: the new delimiter and the offset
// after the line, or nullopt when the line is something else.
std::optional<std::pair<std::string, std::size_t>> DelimiterLine(std::string_view text,
                                                                 std::size_t i) {
    std::size_t j = i;
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) {
        ++j;
    }
    constexpr std::string_view kWord = "delimiter";
    if (text.size() - j <= kWord.size() ||
        (text[j + kWord.size()] != ' ' && text[j + kWord.size()] != '\t')) {
        return std::nullopt;
    }
    for (std::size_t k = 0; k < kWord.size(); ++k) {
        if (std::tolower(static_cast<unsigned char>(text[j + k])) != kWord[k]) {
            return std::nullopt;
        }
    }
    j += kWord.size();
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) {
        ++j;
    }
    std::size_t end = j;
    while (end < text.size() && !IsBlank(text[end])) {
        ++end;
    }
    if (end == j) {
        return std::nullopt;
    }
    std::string delimiter(text.substr(j, end - j));
    const std::size_t eol = text.find('\n', end);
    return std::make_pair(std::move(delimiter),
                          eol == std::string_view::npos ? text.size() : eol + 1);
}

std::string Trimmed(const std::string& s) {
    return std::string(Trim(s, " \t\r\n\f\v"));
}

}  // namespace

std::string BackendName(Backend backend) {
    return backend == Backend::Pg ? "Pg" : "MariaDb";
}

std::string SqlDir(Backend backend) {
    return std::string(BRIMLET_SOURCE_DIR) + "/sql/" +
           (backend == Backend::Pg ? "postgresql" : "mariadb");
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

std::vector<std::string> SplitSqlScript(std::string_view text, Backend backend) {
    const bool maria = backend == Backend::MariaDb;
    std::vector<std::string> out;
    std::string delimiter = ";";
    std::string piece;
    bool significant = false;  // the piece holds more than blanks and comments
    auto flush = [&] {
        if (significant) {
            out.push_back(Trimmed(piece));
        }
        piece.clear();
        significant = false;
    };
    auto take = [&](std::size_t from, std::size_t to) {
        piece.append(text.substr(from, to - from));
    };
    const std::size_t n = text.size();
    std::size_t i = 0;
    bool lineStart = true;
    while (i < n) {
        if (maria && lineStart) {
            if (auto line = DelimiterLine(text, i)) {
                delimiter = line->first;
                i = line->second;
                continue;
            }
        }
        lineStart = false;
        const char c = text[i];
        const char next = i + 1 < n ? text[i + 1] : '\0';
        std::size_t end = i + 1;
        if (text.compare(i, delimiter.size(), delimiter) == 0) {
            flush();
            i += delimiter.size();
            continue;
        }
        if (c == '\n') {
            lineStart = true;
        } else if (IsBlank(c)) {
        } else if ((c == '-' && next == '-' && (!maria || i + 2 >= n || IsBlank(text[i + 2]))) ||
                   (maria && c == '#')) {
            end = std::min(text.find('\n', i), n);
        } else if (c == '/' && next == '*') {
            end = BlockCommentEnd(text, i, !maria);
        } else {
            significant = true;
            if (c == '\'' || c == '"' || (maria && c == '`')) {
                // MariaDB escapes with backslashes in both kinds of string; PostgreSQL only in E''.
                const bool escapeString = !maria && c == '\'' && i > 0 &&
                                          (text[i - 1] == 'E' || text[i - 1] == 'e') &&
                                          (i == 1 || !IsIdentChar(text[i - 2]));
                end = QuotedEnd(text, i, (maria && c != '`') || escapeString);
            } else if (!maria && c == '$') {
                const std::size_t quoted = DollarQuotedEnd(text, i);
                end = quoted == std::string_view::npos ? i + 1 : quoted;
            }
        }
        take(i, end);
        i = end;
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
    for (const auto& piece : SplitSqlScript(text, m_impl->backend)) {
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
