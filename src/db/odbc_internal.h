#pragma once
// Internals of the ODBC layer shared by its source files: handle ownership, the one return-code
// checker, and the Impl structs behind the public classes.
#ifdef _WIN32
#include "db/sql_win32.h"
#else
#include <sql.h>
#include <sqlext.h>
#endif

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"
#include "db/odbc.h"

namespace brimlet::db {

// Error numbers of the layer's own failures. They reach the log with the failure's text, so
// each condition keeps its number.
inline constexpr std::int32_t kErrBadArguments = 3001;
inline constexpr std::int32_t kErrNoCurrentRecord = 3021;
inline constexpr std::int32_t kErrItemNotFound = 3265;
inline constexpr std::int32_t kErrObjectClosed = 3704;
inline constexpr std::int32_t kErrObjectOpen = 3705;
inline constexpr std::int32_t kErrConnectionUnusable = 3709;

// Platform parts (odbc_posix.cpp, odbc_win32.cpp). Both are best effort and never throw.
// Removes the disconnect log psqlODBC leaves behind when we turned its CommLog off.
void RemoveDisconnectLog() noexcept;
// Hands the heap the driver has just freed back to the system.
void ReleaseFreedHeap() noexcept;

// The program's text where it crosses to the driver and back. POSIX: narrow calls and buffers,
// the UTF-8 bytes as they are. Windows: W calls and SQL_C_WCHAR buffers, the ANSI code page
// converted to and from UTF-16 here (a Windows driver reads narrow text in its own code page,
// and Wine's A entry points are stubs). Values fetched for the record set are not program text:
// they stay UTF-8 (TextBinding below).
SQLRETURN DriverConnectText(SQLHDBC dbc, std::string_view connectionString);
SQLRETURN ExecDirectText(SQLHSTMT stmt, std::string_view sql);
// Diagnostic record `record` of the handle, its SQLSTATE and message in the program's text;
// false when there is none.
bool DiagnosticRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, std::string& state,
                      SQLINTEGER& native, std::string& message);
// How a text parameter is bound: its C type, and the bytes of one unit of it.
extern const SQLSMALLINT kTextParameterCType;
extern const std::size_t kTextParameterUnit;
// An input text parameter's value (program text) as the bound bytes, without a terminator.
std::string TextParameterBytes(std::string_view text);
// An output text parameter's bound bytes as the record set holds text, UTF-8.
std::string TextFromParameterBytes(std::string_view bytes);

// Upper bound of diagnostic records read for one failure.
inline constexpr SQLSMALLINT kMaxDiagRecords = 10;

// One ODBC handle, freed on destruction; move-only.
class OdbcHandle {
  public:
    OdbcHandle() = default;
    // Allocates a handle of `type` under `parent`; throws Failure on failure.
    OdbcHandle(SQLSMALLINT type, SQLHANDLE parent);
    ~OdbcHandle();
    OdbcHandle(OdbcHandle&& other) noexcept;
    OdbcHandle& operator=(OdbcHandle&& other) noexcept;
    OdbcHandle(const OdbcHandle&) = delete;
    OdbcHandle& operator=(const OdbcHandle&) = delete;

    SQLHANDLE get() const { return m_handle; }
    SQLSMALLINT type() const { return m_type; }
    explicit operator bool() const { return m_handle != SQL_NULL_HANDLE; }
    void reset();

  private:
    SQLSMALLINT m_type = 0;
    SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

// The failure described by the diagnostic records of a handle: the first record's native error
// (-1 where it is 0), the first record's SQLSTATE, and "SQLSTATE: message" of up to
// kMaxDiagRecords records joined by "; " as its driver text (TAB/CR/LF turned into blanks in the
// description only). `fallback` is the program's own text when there is no record.
Failure DiagnosticFailure(SQLSMALLINT type, SQLHANDLE handle, std::string_view fallback);

// Throws DiagnosticFailure unless rc is SQL_SUCCESS, SQL_SUCCESS_WITH_INFO or SQL_NO_DATA.
void CheckOdbc(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, std::string_view what);

// The connection string to hand to the driver. For a MariaDB driver: without a connect time-out
// of its own, ";CONN_TIMEOUT=<seconds>" is added (that driver ignores SQL_ATTR_LOGIN_TIMEOUT
// against a silent server); without a CHARSET in the string or the DSN, ";CHARSET=utf8mb4" is
// added, the Unicode driver's own default made explicit, so that its narrow text is known to be
// UTF-8. For psqlODBC, when neither the string nor the DSN sets CommLog or Debug, ";CommLog=0"
// is added: Debian registers the driver with CommLog=1, a file in /tmp per connection; and when
// neither sets UseDeclareFetch or Fetch, ";UseDeclareFetch=1;Fetch=<kPsqlOdbcFetchRows>", since
// otherwise the driver holds the whole result in memory of its own before the first row.
// `dsnDriver` and `dsnCharset` are the Driver and CHARSET of the DSN the string names,
// `dsnSetsDriverLog` whether that DSN sets CommLog or Debug, `dsnSetsFetchMode` whether it sets
// UseDeclareFetch or Fetch.
std::string EffectiveConnectionString(std::string_view connectionString, std::int32_t loginTimeout,
                                      std::string_view dsnDriver, std::string_view dsnCharset = {},
                                      bool dsnSetsDriverLog = false, bool dsnSetsFetchMode = false);
// Rows psqlODBC fetches at a time in its declare/fetch mode.
inline constexpr int kPsqlOdbcFetchRows = 10000;

// How text columns are fetched: Narrow binds SQL_C_CHAR and keeps the driver's bytes, Wide binds
// SQL_C_WCHAR and converts UTF-16 to UTF-8.
enum class TextBinding { Narrow, Wide };

// Narrow when the driver is known to deliver UTF-8 for SQL_C_CHAR on this connection, whatever
// the process locale: psqlODBC's Unicode driver (psqlodbcw) always; MariaDB's driver with
// CHARSET utf8mb4, utf8 or utf8mb3; FreeTDS with ClientCharset UTF-8. Wide otherwise, and always
// on Windows (PlatformTextBinding).
// `driverName` is SQLGetInfo(SQL_DRIVER_NAME); the options are looked up in the effective
// connection string first, then in `dsnOptions` (the DSN's entries, same syntax).
TextBinding ChooseTextBinding(std::string_view driverName, std::string_view connectionString,
                              std::string_view dsnOptions = {});
// The binding this platform uses where ChooseTextBinding chose `chosen`: Windows drivers give
// SQL_C_CHAR in the ANSI code page, so only wide text is known to be the database's.
TextBinding PlatformTextBinding(TextBinding chosen);
// The statement of a stored-procedure call of `name` with `parameters` markers: the ODBC escape
// "{call name(?, ?)}", or "SELECT * FROM name(?, ?)" with `selectFromFunction`.
std::string CallText(std::string_view name, std::size_t parameters, bool selectFromFunction);
// The value of a key of a connection string (case-insensitive key, braces removed), or nullopt.
std::optional<std::string> ConnectionStringValue(std::string_view connectionString,
                                                 std::string_view key);

// Parses "MM?DD?YYYY HH:NN:SS" (single non-digit separators between the date fields, blanks
// around allowed) into a validated timestamp; throws Failure 13 otherwise.
SQL_TIMESTAMP_STRUCT TimestampFromText(std::string_view text);

struct Connection::Impl {
    OdbcHandle env;
    OdbcHandle dbc;
    std::string connectionString;
    std::int32_t connectionTimeout = 15;
    std::int32_t commandTimeout = 30;
    bool open = false;
    // Open() added CommLog=0 for psqlODBC: Close() removes the file its disconnect still logs.
    bool quietDriverLog = false;
    // Decided in Open() from the driver and the options.
    TextBinding textBinding = TextBinding::Wide;
    // psqlODBC: a call with input parameters only is sent as the SELECT the driver would make
    // of it, since the driver reads the result of a "{call}" whole, whatever its fetch mode.
    bool selectsFromFunctions = false;
};

struct RecordSet::Impl {
    bool open = false;
    std::vector<std::string> names;
    // All cell bytes of all rows, one after another in fetch order. A cell is
    // arena[rowStart[r] + (c == 0 ? 0 : cellEnd[r*n + c-1]), rowStart[r] + cellEnd[r*n + c]).
    std::string arena;
    std::vector<std::uint64_t> rowStart;
    std::vector<std::uint32_t> cellEnd;
    std::vector<bool> isNull;
    // Rows in their current (sorted) order, as indices in fetch order.
    std::vector<std::uint32_t> order;
    std::size_t position = 0;

    std::size_t Columns() const { return names.size(); }
    std::size_t Rows() const { return rowStart.size(); }
    std::optional<std::string_view> Cell(std::size_t row, std::size_t column) const;
    // Appends one cell of the row being built; rows are closed by EndRow().
    void BeginRow();
    void AddCell(const char* data, std::size_t length);
    void AddNull();
};

// Fetches every row of the statement's current result set into `set`, a fresh one, and opens
// it. `stmt` must have a result set with columns. The cursor is closed afterwards.
void FetchRecordSet(SQLHSTMT stmt, TextBinding binding, RecordSet::Impl& set);

// Appends UTF-16 code units as UTF-8; an unpaired surrogate becomes U+FFFD.
void AppendUtf16AsUtf8(const SQLWCHAR* units, std::size_t count, std::string& out);

}  // namespace brimlet::db
