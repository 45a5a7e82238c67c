#pragma once
// The database access layer: one connection, stored-procedure commands with typed
// parameters, and fully fetched, client-side result sets, over ODBC. It knows nothing of
// components or checksums. Every failing operation throws brimlet::Failure with the first
// diagnostic's native error (-1 where the driver gives 0) and "SQLSTATE: message" of every
// diagnostic record joined by "; ", flattened to one line; the first record's SQLSTATE and the
// records' text as the driver gave it are the failure's sqlState() and driverText(). Text the
// program hands over (the connection string, parameter values) and the diagnostics' text are
// in the program's code page (common/code_page.h); the layer converts them where the platform
// needs it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"

namespace brimlet::db {

// The SQLSTATE of a call that outlived its limit, whatever the driver said after the cancel.
inline constexpr std::string_view kTimeoutState = "HYT00";
// The description of a call that outlived its limit: "HYT00: Command time-out of N s expired",
// "HYT00: Login time-out of N s expired", "HYT00: Disconnect time-out of N s expired".
std::string CommandTimeoutText(std::int32_t seconds);
std::string LoginTimeoutText(std::int32_t seconds);
std::string DisconnectTimeoutText(std::int32_t seconds);

class Connection {
  public:
    // Creates an unopened connection (environment and connection handles).
    Connection();
    ~Connection();
    Connection(Connection&&) noexcept;
    Connection& operator=(Connection&&) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void SetConnectionString(std::string connectionString);
    // Whole seconds; 0 means no limit, a negative value throws Failure 3001. The command
    // time-out is the default of every command run on this connection.
    void SetConnectionTimeout(std::int32_t seconds);
    void SetCommandTimeout(std::int32_t seconds);

    // Opens with the connection string alone (SQLDriverConnect, no prompt). The connection
    // time-out goes to SQL_ATTR_LOGIN_TIMEOUT; for a MariaDB driver (named in Driver= or by the
    // DSN) whose string sets no CONN_TIMEOUT/connect_timeout, ";CONN_TIMEOUT=<n>" is added to the
    // text handed to the driver, because that driver ignores the attribute against a server that
    // accepts and stays silent; without a CHARSET of its own, ";CHARSET=utf8mb4" is added. Text
    // columns are then fetched narrow (SQL_C_CHAR) where the driver reported by SQL_DRIVER_NAME
    // and the character-set option are known to give UTF-8, wide (SQL_C_WCHAR, converted to
    // UTF-8) otherwise. Throws when already open or when the driver refuses.
    void Open();
    // Throws when the connection is not open.
    void Close();
    bool IsOpen() const;

    struct Impl;

  private:
    friend class Command;
    friend struct OdbcTesting;  // db/odbc_testing.h, the tests' way in
    Impl& impl() const;
    std::unique_ptr<Impl> m_impl;
};

enum class ParamType { VarChar, Date, Integer };
enum class ParamDirection { Input, Output };

class RecordSet;

class Command {
  public:
    Command();
    ~Command();
    Command(Command&&) noexcept;
    Command& operator=(Command&&) noexcept;
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    // The command runs on `connection`, which must outlive the command and be open.
    void SetActiveConnection(Connection& connection);
    // The stored procedure the command calls: a plain identifier, checked when it runs.
    void SetCommandText(std::string procedureName);
    // Overrides the connection's command time-out for this command; negative throws.
    void SetCommandTimeout(std::int32_t seconds);
    // Parameters reach the procedure by position, in the order appended. A Date input takes
    // "MM/DD?YYYY HH:NN:SS" text (any separator) and binds as a timestamp; an Integer input
    // takes a whole number; other text throws Failure 13 here. An empty optional binds NULL.
    // Output parameters get no value; a Date output throws Failure 3001 (none is read back). A
    // VarChar input longer than `size` is bound whole: the layer never cuts it, the server applies
    // its own rule (PostgreSQL takes it, MariaDB in strict mode refuses with "Data too long").
    void AppendParameter(std::string name, ParamType type, ParamDirection direction,
                         std::int32_t size, std::optional<std::string> value = std::nullopt);
    // Runs "{call NAME(?, ...)}". The first result with columns is fetched whole into the
    // returned set; row counts before it are skipped; a call with no such result gives a
    // closed set. All remaining results are consumed, so output values are ready afterwards.
    // The command time-out (0 = none) goes to SQL_ATTR_QUERY_TIMEOUT and is also enforced by
    // the layer: a call still running half a second after it is cancelled (SQLCancel) and
    // fails with "HYT00: Command time-out of N s expired; " and the driver's diagnostics, also
    // when the driver reports success after the cancel; then the output values are read all
    // the same before the failure is thrown, and CompletedAfterCancel() tells so.
    RecordSet Execute();
    // The value of a parameter by its name (exact spelling); NULL gives an empty optional. An
    // input's value is the text appended; an output's text is the database's, UTF-8 like the
    // record set's. Throws when no parameter has that name.
    std::optional<std::string> ParameterValue(std::string_view name) const;
    // The last Execute timed out, yet the call ran to its end: what the procedure reported
    // (its output values) stands, though it came late.
    bool CompletedAfterCancel() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Rows held in memory; columns found by name without regard to case. Values are kept as
// UTF-8 text on every platform: numbers in their ordinary text form, booleans (SQL_BIT) as "1"
// or "0".
class RecordSet {
  public:
    RecordSet();  // closed, no columns, no rows
    ~RecordSet();
    RecordSet(RecordSet&&) noexcept;
    RecordSet& operator=(RecordSet&&) noexcept;
    RecordSet(const RecordSet&) = delete;
    RecordSet& operator=(const RecordSet&) = delete;

    bool IsOpen() const;
    bool Bof() const;  // before the first row (true with no rows)
    bool Eof() const;  // after the last row (true with no rows)
    std::size_t RowCount() const;
    // Keeps only the rows at `positions` of the current order, in the order given (a caller's
    // own sort or selection). Throws when a position has no row. Moves to the first row.
    void KeepRows(const std::vector<std::size_t>& positions);
    void MoveFirst();
    // Value of a column of the current row; throws when the column does not exist or there is
    // no current row.
    std::optional<std::string_view> Field(std::string_view column) const;
    // Column index by name (case-insensitive); throws when missing. Faster access per row.
    std::size_t ColumnIndex(std::string_view column) const;
    std::optional<std::string_view> Field(std::size_t columnIndex) const;
    // Reads a boolean column: NULL false; "0", "f", "false", "n", "no" false; non-zero true.
    bool FieldBool(std::size_t columnIndex) const;
    void MoveNext();
    // Throws when already closed. Releases the rows.
    void Close();

    struct Impl;

  private:
    friend class Command;
    friend struct OdbcTesting;
    Impl& impl() const;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace brimlet::db
