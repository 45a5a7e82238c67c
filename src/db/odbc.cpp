#include "db/odbc.h"

#ifdef _WIN32
#include "db/sql_win32.h"
#else
#include <odbcinst.h>
#endif

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/integer.h"
#include "common/text.h"
#include "db/odbc_internal.h"

namespace brimlet::db {

// ---- handles and diagnostics ----

OdbcHandle::OdbcHandle(SQLSMALLINT type, SQLHANDLE parent) : m_type(type) {
    SQLRETURN rc = SQLAllocHandle(type, parent, &m_handle);
    if (!SQL_SUCCEEDED(rc)) {
        m_handle = SQL_NULL_HANDLE;
        if (parent != SQL_NULL_HANDLE) {
            SQLSMALLINT parentType = type == SQL_HANDLE_DBC ? SQL_HANDLE_ENV : SQL_HANDLE_DBC;
            throw DiagnosticFailure(parentType, parent, "HY001: Cannot allocate an ODBC handle");
        }
        throw Failure(kErrOutOfMemory, "HY001: Cannot allocate an ODBC environment");
    }
}

OdbcHandle::~OdbcHandle() {
    reset();
}

OdbcHandle::OdbcHandle(OdbcHandle&& other) noexcept
    : m_type(other.m_type), m_handle(other.m_handle) {
    other.m_handle = SQL_NULL_HANDLE;
}

OdbcHandle& OdbcHandle::operator=(OdbcHandle&& other) noexcept {
    if (this != &other) {
        reset();
        m_type = other.m_type;
        m_handle = other.m_handle;
        other.m_handle = SQL_NULL_HANDLE;
    }
    return *this;
}

void OdbcHandle::reset() {
    if (m_handle != SQL_NULL_HANDLE) {
        SQLFreeHandle(m_type, m_handle);
        m_handle = SQL_NULL_HANDLE;
    }
}

Failure DiagnosticFailure(SQLSMALLINT type, SQLHANDLE handle, std::string_view fallback) {
    std::int32_t number = -1;
    std::string sqlState;
    std::string driverText;
    for (SQLSMALLINT i = 1; i <= kMaxDiagRecords; ++i) {
        std::string state;
        SQLINTEGER native = 0;
        std::string message;
        if (!DiagnosticRecord(type, handle, i, state, native, message)) {
            break;
        }
        if (i == 1) {
            number = native != 0 ? native : number;
            sqlState = state;
        }
        // Drivers end some messages with a line break; it must not become a trailing blank.
        std::string_view text(message);
        while (!text.empty() &&
               (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
            text.remove_suffix(1);
        }
        if (!driverText.empty()) {
            driverText += "; ";
        }
        driverText += state;
        driverText += ": ";
        // Kept as it came: the redactor must see a password's TAB or line break before the
        // description flattens them.
        driverText += text;
    }
    if (driverText.empty()) {
        return Failure(number, FlattenLine(fallback));
    }
    return Failure(number, std::move(sqlState), "", std::move(driverText));
}

void CheckOdbc(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, std::string_view what) {
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA) {
        return;
    }
    if (rc == SQL_INVALID_HANDLE) {
        throw Failure(-1, "HY000: " + std::string(what) + ": invalid handle");
    }
    throw DiagnosticFailure(type, handle, "HY000: " + std::string(what) + " failed");
}

// ---- text conversions ----

SQL_TIMESTAMP_STRUCT TimestampFromText(std::string_view text) {
    std::string_view t = TrimWhitespace(text);
    auto fail = [] { return Failure(kErrTypeMismatch, "Type mismatch"); };
    // MM?DD?YYYY HH:NN:SS
    if (t.size() != 19 || t[10] != ' ' || t[13] != ':' || t[16] != ':') {
        throw fail();
    }
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (isDigit(t[2]) || isDigit(t[5])) {
        throw fail();
    }
    auto number = [&](std::size_t pos, std::size_t len) {
        int v = 0;
        for (std::size_t i = pos; i < pos + len; ++i) {
            if (!isDigit(t[i])) {
                throw fail();
            }
            v = v * 10 + (t[i] - '0');
        }
        return v;
    };
    SQL_TIMESTAMP_STRUCT ts{};
    int month = number(0, 2);
    int day = number(3, 2);
    int year = number(6, 4);
    int hour = number(11, 2);
    int minute = number(14, 2);
    int second = number(17, 2);
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59 || day < 1 ||
        day > kDays[month - 1] + ((month == 2 && leap) ? 1 : 0)) {
        throw fail();
    }
    ts.year = static_cast<SQLSMALLINT>(year);
    ts.month = static_cast<SQLUSMALLINT>(month);
    ts.day = static_cast<SQLUSMALLINT>(day);
    ts.hour = static_cast<SQLUSMALLINT>(hour);
    ts.minute = static_cast<SQLUSMALLINT>(minute);
    ts.second = static_cast<SQLUSMALLINT>(second);
    return ts;
}

// ---- connection strings ----

namespace {

struct ConnItem {
    std::string key;
    std::string value;
};

// Splits "k=v;k={v;with;semicolons};..." into items.
std::vector<ConnItem> ParseConnectionString(std::string_view s) {
    std::vector<ConnItem> items;
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t eq = s.find('=', i);
        std::size_t semi = s.find(';', i);
        if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
            i = semi == std::string_view::npos ? s.size() : semi + 1;
            continue;
        }
        ConnItem item;
        item.key = std::string(TrimWhitespace(s.substr(i, eq - i)));
        std::size_t v = eq + 1;
        if (v < s.size() && s[v] == '{') {
            std::size_t close = s.find('}', v + 1);
            if (close == std::string_view::npos) {
                close = s.size();
            }
            item.value = std::string(s.substr(v + 1, close - v - 1));
            semi = s.find(';', close);
        } else {
            semi = s.find(';', v);
            item.value = std::string(TrimWhitespace(
                s.substr(v, semi == std::string_view::npos ? std::string_view::npos : semi - v)));
        }
        items.push_back(std::move(item));
        i = semi == std::string_view::npos ? s.size() : semi + 1;
    }
    return items;
}

bool IsMariaDbDriver(std::string_view driver) {
    std::string lower = ToLowerAscii(driver);
    return lower.find("mariadb") != std::string::npos || lower.find("maodbc") != std::string::npos;
}

bool IsPsqlOdbcDriver(std::string_view driver) {
    std::string lower = ToLowerAscii(driver);
    return lower.find("postgresql") != std::string::npos ||
           lower.find("psqlodbc") != std::string::npos;
}

}  // namespace

std::string CallText(std::string_view name, std::size_t parameters, bool selectFromFunction) {
    std::string sql = selectFromFunction ? "SELECT * FROM " : "{call ";
    sql += name;
    if (parameters > 0 || selectFromFunction) {
        sql += "(";
        for (std::size_t i = 0; i < parameters; ++i) {
            sql += i == 0 ? "?" : ", ?";
        }
        sql += ")";
    }
    if (!selectFromFunction) {
        sql += "}";
    }
    return sql;
}

std::optional<std::string> ConnectionStringValue(std::string_view connectionString,
                                                 std::string_view key) {
    for (const auto& item : ParseConnectionString(connectionString)) {
        if (EqualsIgnoreCaseAscii(item.key, key)) {
            return item.value;
        }
    }
    return std::nullopt;
}

std::string EffectiveConnectionString(std::string_view connectionString, std::int32_t loginTimeout,
                                      std::string_view dsnDriver, std::string_view dsnCharset,
                                      bool dsnSetsDriverLog, bool dsnSetsFetchMode) {
    std::string out(connectionString);
    auto add = [&out](const std::string& item) {
        if (!out.empty() && out.back() != ';') {
            out += ';';
        }
        out += item;
    };
    const std::string driver =
        ConnectionStringValue(connectionString, "Driver").value_or(std::string(dsnDriver));
    if (IsPsqlOdbcDriver(driver)) {
        if (!dsnSetsDriverLog && !ConnectionStringValue(connectionString, "CommLog") &&
            !ConnectionStringValue(connectionString, "Debug")) {
            add("CommLog=0");
        }
        if (!dsnSetsFetchMode && !ConnectionStringValue(connectionString, "UseDeclareFetch") &&
            !ConnectionStringValue(connectionString, "Fetch")) {
            add("UseDeclareFetch=1;Fetch=" + std::to_string(kPsqlOdbcFetchRows));
        }
        return out;
    }
    if (!IsMariaDbDriver(driver)) {
        return out;
    }
    if (loginTimeout > 0 && !ConnectionStringValue(connectionString, "CONN_TIMEOUT") &&
        !ConnectionStringValue(connectionString, "connect_timeout")) {
        add("CONN_TIMEOUT=" + std::to_string(loginTimeout));
    }
    if (!ConnectionStringValue(connectionString, "CHARSET") && dsnCharset.empty()) {
        add("CHARSET=utf8mb4");
    }
    return out;
}

TextBinding ChooseTextBinding(std::string_view driverName, std::string_view connectionString,
                              std::string_view dsnOptions) {
    auto option = [&](std::string_view key) {
        auto value = ConnectionStringValue(connectionString, key);
        if (!value || value->empty()) {
            value = ConnectionStringValue(dsnOptions, key);
        }
        return ToLowerAscii(value.value_or(std::string()));
    };
    std::string name = ToLowerAscii(driverName);
    if (auto slash = name.rfind('/'); slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    bool narrow = false;
    if (name.starts_with("psqlodbcw")) {
        // The Unicode driver sets client_encoding UTF8 itself and hands SQL_C_CHAR the
        // server's bytes unchanged, under any locale. The ANSI driver (psqlodbca) does not.
        narrow = true;
    } else if (name.find("maodbc") != std::string::npos) {
        const std::string charset = option("CHARSET");
        narrow = charset == "utf8mb4" || charset == "utf8" || charset == "utf8mb3";
    } else if (name.find("tdsodbc") != std::string::npos) {
        const std::string charset = option("ClientCharset");
        narrow = charset == "utf-8" || charset == "utf8";
    }
    return narrow ? TextBinding::Narrow : TextBinding::Wide;
}

// ---- Connection ----

Connection::Connection() : m_impl(std::make_unique<Impl>()) {
    m_impl->env = OdbcHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    CheckOdbc(SQLSetEnvAttr(m_impl->env.get(), SQL_ATTR_ODBC_VERSION,
                            reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              SQL_HANDLE_ENV, m_impl->env.get(), "SQLSetEnvAttr");
    m_impl->dbc = OdbcHandle(SQL_HANDLE_DBC, m_impl->env.get());
}

Connection::~Connection() {
    if (m_impl && m_impl->open) {
        SQLDisconnect(m_impl->dbc.get());
    }
}

Connection::Connection(Connection&&) noexcept = default;

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        if (m_impl && m_impl->open) {
            SQLDisconnect(m_impl->dbc.get());
        }
        m_impl = std::move(other.m_impl);
    }
    return *this;
}

Connection::Impl& Connection::impl() const {
    if (!m_impl) {
        throw Failure(kErrConnectionUnusable, "The connection object was moved from");
    }
    return *m_impl;
}

void Connection::SetConnectionString(std::string connectionString) {
    if (impl().open) {
        throw Failure(kErrObjectOpen, "Operation is not allowed when the object is open.");
    }
    impl().connectionString = std::move(connectionString);
}

namespace {
std::int32_t CheckedTimeout(std::int32_t seconds) {
    if (seconds < 0) {
        throw Failure(kErrBadArguments,
                      "Arguments are of the wrong type, are out of acceptable range, or are in "
                      "conflict with one another.");
    }
    return seconds;
}
}  // namespace

void Connection::SetConnectionTimeout(std::int32_t seconds) {
    impl().connectionTimeout = CheckedTimeout(seconds);
}

void Connection::SetCommandTimeout(std::int32_t seconds) {
    impl().commandTimeout = CheckedTimeout(seconds);
}

void Connection::Open() {
    Impl& d = impl();
    if (d.open) {
        throw Failure(kErrObjectOpen, "Operation is not allowed when the object is open.");
    }
    CheckOdbc(
        SQLSetConnectAttr(
            d.dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
            // NOLINTNEXTLINE(performance-no-int-to-ptr): ODBC takes integer attributes as pointers
            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(d.connectionTimeout)), 0),
        SQL_HANDLE_DBC, d.dbc.get(), "SQLSetConnectAttr(SQL_ATTR_LOGIN_TIMEOUT)");
    std::string dsnDriver;
    std::string dsnCharset;
    std::string dsnOptions;
    bool dsnSetsDriverLog = false;
    bool dsnSetsFetchMode = false;
    if (auto dsn = ConnectionStringValue(d.connectionString, "DSN")) {
        auto entry = [&dsn](const char* key) {
            std::array<char, 512> buf{};
            SQLGetPrivateProfileString(dsn->c_str(), key, "", buf.data(),
                                       static_cast<int>(buf.size()), "odbc.ini");
            return std::string(buf.data());
        };
        dsnDriver = entry("Driver");
        dsnCharset = entry("CHARSET");
        dsnSetsDriverLog = !entry("CommLog").empty() || !entry("Debug").empty();
        dsnSetsFetchMode = !entry("UseDeclareFetch").empty() || !entry("Fetch").empty();
        dsnOptions = "CHARSET={" + dsnCharset + "};ClientCharset={" + entry("ClientCharset") + "}";
    }
    std::string text = EffectiveConnectionString(d.connectionString, d.connectionTimeout, dsnDriver,
                                                 dsnCharset, dsnSetsDriverLog, dsnSetsFetchMode);
    d.quietDriverLog = !ConnectionStringValue(d.connectionString, "CommLog") &&
                       ConnectionStringValue(text, "CommLog").has_value();
    // Only the options that decide the text binding, not the password.
    const std::string charsetOptions =
        "CHARSET={" + ConnectionStringValue(text, "CHARSET").value_or("") + "};ClientCharset={" +
        ConnectionStringValue(text, "ClientCharset").value_or("") + "}";
    SQLRETURN rc = DriverConnectText(d.dbc.get(), text);
    // The text holds the password; it is not kept beyond this call.
    std::fill(text.begin(), text.end(), '\0');
    CheckOdbc(rc, SQL_HANDLE_DBC, d.dbc.get(), "SQLDriverConnect");
    d.open = true;
    std::array<SQLCHAR, 256> driverName{};
    SQLSMALLINT nameLength = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(d.dbc.get(), SQL_DRIVER_NAME, driverName.data(),
                                  static_cast<SQLSMALLINT>(driverName.size()), &nameLength))) {
        driverName[0] = '\0';
    }
    d.textBinding = PlatformTextBinding(ChooseTextBinding(
        reinterpret_cast<const char*>(driverName.data()), charsetOptions, dsnOptions));
    d.selectsFromFunctions = IsPsqlOdbcDriver(reinterpret_cast<const char*>(driverName.data()));
}

void Connection::Close() {
    Impl& d = impl();
    if (!d.open) {
        throw Failure(kErrObjectClosed, "Operation is not allowed when the object is closed.");
    }
    d.open = false;
    CheckOdbc(SQLDisconnect(d.dbc.get()), SQL_HANDLE_DBC, d.dbc.get(), "SQLDisconnect");
    if (d.quietDriverLog) {
        RemoveDisconnectLog();
    }
}

std::string CommandTimeoutText(std::int32_t seconds) {
    return "HYT00: Command time-out of " + std::to_string(seconds) + " s expired";
}

std::string LoginTimeoutText(std::int32_t seconds) {
    return "HYT00: Login time-out of " + std::to_string(seconds) + " s expired";
}

std::string DisconnectTimeoutText(std::int32_t seconds) {
    return "HYT00: Disconnect time-out of " + std::to_string(seconds) + " s expired";
}

bool Connection::IsOpen() const {
    return m_impl && m_impl->open;
}

// ---- Command ----

namespace {

struct Parameter {
    std::string name;
    ParamType type;
    ParamDirection direction;
    std::int32_t size;
    std::optional<std::string> value;
    // Buffers bound to the statement; they live in the command, at stable addresses.
    std::string text;
    SQLINTEGER integer = 0;
    SQL_TIMESTAMP_STRUCT timestamp{};
    SQLLEN indicator = 0;
    std::optional<std::string> result;
};

constexpr std::int32_t kDefaultVarCharOutputSize = 8000;

}  // namespace

struct Command::Impl {
    Connection* connection = nullptr;
    std::string text;
    std::optional<std::int32_t> timeout;
    std::vector<std::unique_ptr<Parameter>> parameters;
    bool completedAfterCancel = false;
};

Command::Command() : m_impl(std::make_unique<Impl>()) {}
Command::~Command() = default;
Command::Command(Command&&) noexcept = default;
Command& Command::operator=(Command&&) noexcept = default;

void Command::SetActiveConnection(Connection& connection) {
    m_impl->connection = &connection;
}

void Command::SetCommandText(std::string procedureName) {
    m_impl->text = std::move(procedureName);
}

void Command::SetCommandTimeout(std::int32_t seconds) {
    m_impl->timeout = CheckedTimeout(seconds);
}

void Command::AppendParameter(std::string name, ParamType type, ParamDirection direction,
                              std::int32_t size, std::optional<std::string> value) {
    if (size < 0) {
        throw Failure(kErrBadArguments, "Parameter size must not be negative");
    }
    if (type == ParamType::Date && direction == ParamDirection::Output) {
        throw Failure(kErrBadArguments, "Date output parameters are not supported");
    }
    auto p = std::make_unique<Parameter>();
    p->name = std::move(name);
    p->type = type;
    p->direction = direction;
    p->size = size;
    // Converted now, so a value that does not fit its type fails where it is appended.
    if (direction == ParamDirection::Input && value) {
        if (type == ParamType::Integer) {
            p->integer = ParseInt32(*value);
        } else if (type == ParamType::Date) {
            p->timestamp = TimestampFromText(*value);
        }
    }
    p->value = std::move(value);
    m_impl->parameters.push_back(std::move(p));
}

namespace {

void BindParameter(SQLHSTMT stmt, SQLUSMALLINT position, Parameter& p) {
    const bool input = p.direction == ParamDirection::Input;
    const SQLSMALLINT io = input ? SQL_PARAM_INPUT : SQL_PARAM_OUTPUT;
    SQLRETURN rc = SQL_SUCCESS;
    p.result.reset();
    switch (p.type) {
        case ParamType::VarChar: {
            SQLULEN columnSize = static_cast<SQLULEN>(p.size);
            SQLLEN bufferBytes = 0;
            if (input) {
                p.text = TextParameterBytes(p.value.value_or(std::string()));
                p.indicator = p.value ? static_cast<SQLLEN>(p.text.size()) : SQL_NULL_DATA;
                bufferBytes = static_cast<SQLLEN>(p.text.size());
                // A longer value is bound whole: the server applies its own rule (error or
                // cut), never this layer silently.
                columnSize = std::max<SQLULEN>(
                    {columnSize, static_cast<SQLULEN>(p.text.size() / kTextParameterUnit),
                     SQLULEN{1}});
            } else {
                std::size_t capacity = p.size > 0
                                           ? static_cast<std::size_t>(p.size)
                                           : static_cast<std::size_t>(kDefaultVarCharOutputSize);
                columnSize = capacity;
                // Room for `capacity` characters of up to 4 bytes (UTF-8, or two UTF-16 units)
                // plus the terminator.
                p.text.assign(capacity * 4 + kTextParameterUnit, '\0');
                p.indicator = 0;
                bufferBytes = static_cast<SQLLEN>(p.text.size());
            }
            rc = SQLBindParameter(stmt, position, io, kTextParameterCType, SQL_VARCHAR, columnSize,
                                  0, p.text.data(), bufferBytes, &p.indicator);
            break;
        }
        case ParamType::Integer:
            if (input) {
                p.indicator = p.value ? 0 : SQL_NULL_DATA;
                rc = SQLBindParameter(stmt, position, io, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                                      &p.integer, sizeof p.integer, &p.indicator);
            } else {
                // As text: MariaDB's driver leaves the indicator alone for a NULL output, so
                // only an empty text tells NULL from 0.
                p.text.assign(32, '\0');
                p.indicator = 0;
                rc = SQLBindParameter(stmt, position, io, SQL_C_CHAR, SQL_INTEGER, 0, 0,
                                      p.text.data(), static_cast<SQLLEN>(p.text.size()),
                                      &p.indicator);
            }
            break;
        case ParamType::Date:
            p.indicator = p.value ? static_cast<SQLLEN>(sizeof p.timestamp) : SQL_NULL_DATA;
            rc = SQLBindParameter(stmt, position, io, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19,
                                  0, &p.timestamp, sizeof p.timestamp, &p.indicator);
            break;
    }
    CheckOdbc(rc, SQL_HANDLE_STMT, stmt, "SQLBindParameter");
}

// The units of a bound text buffer before its first zero unit.
std::size_t UnitsBeforeTerminator(std::string_view bytes) {
    std::size_t units = 0;
    while ((units + 1) * kTextParameterUnit <= bytes.size() &&
           bytes.substr(units * kTextParameterUnit, kTextParameterUnit).find_first_not_of('\0') !=
               std::string_view::npos) {
        ++units;
    }
    return units;
}

void ReadOutput(Parameter& p) {
    if (p.direction != ParamDirection::Output || p.indicator == SQL_NULL_DATA) {
        return;
    }
    switch (p.type) {
        case ParamType::VarChar: {
            std::size_t length = p.indicator >= 0
                                     ? std::min(static_cast<std::size_t>(p.indicator),
                                                p.text.size() - kTextParameterUnit)
                                     : UnitsBeforeTerminator(p.text) * kTextParameterUnit;
            p.result = TextFromParameterBytes(std::string_view(p.text).substr(0, length));
            break;
        }
        case ParamType::Integer: {
            std::string_view text(p.text.c_str());
            if (p.indicator >= 0 && static_cast<std::size_t>(p.indicator) < text.size()) {
                text = text.substr(0, static_cast<std::size_t>(p.indicator));
            }
            if (!TrimWhitespace(text).empty()) {
                p.result = std::to_string(ParseInt32(text));
            }
            break;
        }
        case ParamType::Date:
            break;  // refused when appended
    }
}

// Cancels a statement that is still running when its command time-out has passed. psqlODBC
// honours SQL_ATTR_QUERY_TIMEOUT itself; MariaDB's driver does not stop a procedure that is
// sleeping or blocked, so the layer enforces the limit for every driver. The grace lets a driver
// that keeps the limit report it in its own words first. SQLCancel runs without the lock: a
// driver's cancel talks to the server too and blocks with it when the server is gone; the run's
// watchdog ends such a run, and Stop() must not wait on a lock for it meanwhile.
class CancelWatchdog {
  public:
    CancelWatchdog(SQLHSTMT stmt, std::int32_t seconds) {
        if (seconds <= 0) {
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds) +
                              std::chrono::milliseconds(500);
        m_thread = std::thread([this, stmt, deadline] {
            {
                std::unique_lock lock(m_mutex);
                if (m_wake.wait_until(lock, deadline, [this] { return m_done; })) {
                    return;
                }
                m_fired = true;
            }
            SQLCancel(stmt);
        });
    }
    ~CancelWatchdog() { Stop(); }
    CancelWatchdog(const CancelWatchdog&) = delete;
    CancelWatchdog& operator=(const CancelWatchdog&) = delete;

    // Ends the watch; true when the statement was cancelled.
    bool Stop() {
        if (m_thread.joinable()) {
            {
                std::lock_guard lock(m_mutex);
                m_done = true;
            }
            m_wake.notify_one();
            m_thread.join();
        }
        return m_fired;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    bool m_fired = false;
    std::thread m_thread;
};

}  // namespace

RecordSet Command::Execute() {
    Impl& d = *m_impl;
    if (d.connection == nullptr || !d.connection->IsOpen()) {
        throw Failure(kErrConnectionUnusable,
                      "The connection cannot be used to perform this operation. It is either "
                      "closed or invalid in this context.");
    }
    // The name is the one piece of text that goes into the SQL; keep it a plain identifier.
    if (d.text.empty() ||
        d.text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                 "0123456789_.$#@") != std::string::npos) {
        throw Failure(kErrBadArguments, "Invalid procedure name for a stored-procedure command");
    }
    Connection::Impl& conn = d.connection->impl();
    OdbcHandle stmt(SQL_HANDLE_STMT, conn.dbc.get());
    const std::int32_t timeout = d.timeout.value_or(conn.commandTimeout);
    CheckOdbc(
        SQLSetStmtAttr(
            stmt.get(), SQL_ATTR_QUERY_TIMEOUT,
            // NOLINTNEXTLINE(performance-no-int-to-ptr): ODBC takes integer attributes as pointers
            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout)), 0),
        SQL_HANDLE_STMT, stmt.get(), "SQLSetStmtAttr(SQL_ATTR_QUERY_TIMEOUT)");

    const bool inputsOnly =
        std::all_of(d.parameters.begin(), d.parameters.end(),
                    [](const auto& p) { return p->direction == ParamDirection::Input; });
    const std::string sql =
        CallText(d.text, d.parameters.size(), conn.selectsFromFunctions && inputsOnly);
    for (std::size_t i = 0; i < d.parameters.size(); ++i) {
        BindParameter(stmt.get(), static_cast<SQLUSMALLINT>(i + 1), *d.parameters[i]);
    }

    RecordSet result;
    d.completedAfterCancel = false;
    CancelWatchdog watchdog(stmt.get(), timeout);
    try {
        SQLRETURN rc = ExecDirectText(stmt.get(), sql);
        CheckOdbc(rc, SQL_HANDLE_STMT, stmt.get(), "SQLExecDirect");
        bool haveResult = false;
        while (rc != SQL_NO_DATA) {
            SQLSMALLINT columns = 0;
            CheckOdbc(SQLNumResultCols(stmt.get(), &columns), SQL_HANDLE_STMT, stmt.get(),
                      "SQLNumResultCols");
            if (columns > 0 && !haveResult) {
                FetchRecordSet(stmt.get(), conn.textBinding, result.impl());
                haveResult = true;
                // The driver has just freed its copy of the rows, a heap as large as ours
                // (psqlODBC keeps every value in a block of its own). Give those pages back
                // now, before the document is built beside our copy.
                ReleaseFreedHeap();
            }
            // Output values are set only once every result of the call has been consumed.
            rc = SQLMoreResults(stmt.get());
            CheckOdbc(rc, SQL_HANDLE_STMT, stmt.get(), "SQLMoreResults");
        }
    } catch (const Failure& failure) {
        if (watchdog.Stop()) {
            throw failure.Behind(CommandTimeoutText(timeout) + "; ", kTimeoutState);
        }
        throw;
    }
    // The cancel does not always stop the work (MariaDB's SLEEP swallows it and the procedure
    // goes on): what ends after its limit is a time-out, whatever the driver then returns. What
    // the call reported is read all the same: the work it reports was done.
    if (watchdog.Stop()) {
        try {
            for (auto& p : d.parameters) {
                ReadOutput(*p);
            }
            d.completedAfterCancel = true;
        } catch (const Failure&) {
            // An output that cannot be read reports nothing; the time-out stands alone.
        }
        throw Failure(
            -1, std::string(kTimeoutState),
            CommandTimeoutText(timeout) + "; the call returned only after it was cancelled", "");
    }
    for (auto& p : d.parameters) {
        ReadOutput(*p);
    }
    SQLFreeStmt(stmt.get(), SQL_CLOSE);
    SQLFreeStmt(stmt.get(), SQL_RESET_PARAMS);
    return result;
}

bool Command::CompletedAfterCancel() const {
    return m_impl->completedAfterCancel;
}

std::optional<std::string> Command::ParameterValue(std::string_view name) const {
    for (const auto& p : m_impl->parameters) {
        if (p->name == name) {
            return p->direction == ParamDirection::Output ? p->result : p->value;
        }
    }
    throw Failure(kErrItemNotFound,
                  "Item cannot be found in the collection corresponding to the requested name or "
                  "ordinal.");
}

}  // namespace brimlet::db
