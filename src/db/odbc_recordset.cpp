#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "common/text.h"
#include "common/utf8.h"
#include "db/odbc.h"
#include "db/odbc_internal.h"

namespace brimlet::db {

namespace {

Failure NoCurrentRecord() {
    return Failure(kErrNoCurrentRecord,
                   "Either BOF or EOF is True, or the current record has been deleted. Requested "
                   "operation requires a current record.");
}

Failure ObjectClosed() {
    return Failure(kErrObjectClosed, "Operation is not allowed when the object is closed.");
}

Failure ItemNotFound(std::string_view name) {
    return Failure(kErrItemNotFound,
                   "Item cannot be found in the collection corresponding to the requested name or "
                   "ordinal. (" +
                       std::string(name) + ")");
}

bool IsText(SQLSMALLINT type) {
    switch (type) {
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_LONGVARCHAR:
        case SQL_WCHAR:
        case SQL_WVARCHAR:
        case SQL_WLONGVARCHAR:
            return true;
        default:
            return false;
    }
}

// Bytes per cell for row-array fetch, or 0 when the column is read with SQLGetData instead.
SQLLEN BoundWidth(SQLSMALLINT type, SQLULEN size, bool wide) {
    constexpr SQLULEN kMaxBoundChars = 4000;
    switch (type) {
        case SQL_BIT:
            return 1;
        case SQL_TINYINT:
        case SQL_SMALLINT:
        case SQL_INTEGER:
        case SQL_BIGINT:
            return 24;
        case SQL_REAL:
        case SQL_FLOAT:
        case SQL_DOUBLE:
        case SQL_TYPE_DATE:
        case SQL_TYPE_TIME:
        case SQL_TYPE_TIMESTAMP:
        case SQL_DATE:
        case SQL_TIME:
        case SQL_TIMESTAMP:
        case SQL_GUID:
            return 64;
        case SQL_DECIMAL:
        case SQL_NUMERIC:
            return size > 0 && size <= kMaxBoundChars ? static_cast<SQLLEN>(size) + 4 : 0;
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_WCHAR:
        case SQL_WVARCHAR:
            if (size == 0 || size > kMaxBoundChars) {
                return 0;
            }
            // UTF-8: up to 4 bytes per character; UTF-16: up to two units, where the driver
            // counts a character outside the BMP as one.
            return static_cast<SQLLEN>(size) * 4 + static_cast<SQLLEN>(wide ? sizeof(SQLWCHAR) : 1);
        case SQL_BINARY:
        case SQL_VARBINARY:
            return size > 0 && size <= kMaxBoundChars ? static_cast<SQLLEN>(size) * 2 + 1 : 0;
        default:
            return 0;
    }
}

struct ColumnInfo {
    SQLSMALLINT type = 0;
    bool wide = false;  // text fetched as SQL_C_WCHAR
    SQLLEN width = 0;   // bound bytes per row; 0 = SQLGetData
    std::vector<char> buffer;
    std::vector<SQLLEN> indicators;
};

struct Scratch {
    std::string text;
    std::u16string units;
    std::string converted;
};

void AddWideCell(const SQLWCHAR* units, std::size_t count, RecordSet::Impl& set,
                 std::string& converted) {
    converted.clear();
    AppendUtf16AsUtf8(units, count, converted);
    set.AddCell(converted.data(), converted.size());
}

// Reads a whole value with SQLGetData in chunks into `out` (units of the C type's width);
// false for NULL. SQL_SUCCESS_WITH_INFO means a full chunk less its terminator, more to come.
template <typename Unit>
bool GetWholeValue(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType,
                   std::basic_string<Unit>& out) {
    static_assert(sizeof(Unit) == sizeof(char) || sizeof(Unit) == sizeof(SQLWCHAR));
    out.clear();
    std::array<Unit, 8192 / sizeof(Unit)> chunk{};
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc =
            SQLGetData(stmt, column, cType, chunk.data(), sizeof chunk, &indicator);
        if (rc == SQL_NO_DATA) {
            return true;
        }
        CheckOdbc(rc, SQL_HANDLE_STMT, stmt, "SQLGetData");
        if (indicator == SQL_NULL_DATA) {
            return false;
        }
        if (rc == SQL_SUCCESS) {
            out.append(chunk.data(), static_cast<std::size_t>(indicator) / sizeof(Unit));
            return true;
        }
        out.append(chunk.data(), chunk.size() - 1);
    }
}

// Reads one cell with SQLGetData in chunks and appends it to the set.
void GetDataCell(SQLHSTMT stmt, SQLUSMALLINT column, const ColumnInfo& info, RecordSet::Impl& set,
                 Scratch& scratch) {
    SQLLEN indicator = 0;
    if (info.type == SQL_BIT) {
        unsigned char bit = 0;
        CheckOdbc(SQLGetData(stmt, column, SQL_C_BIT, &bit, sizeof bit, &indicator),
                  SQL_HANDLE_STMT, stmt, "SQLGetData");
        if (indicator == SQL_NULL_DATA) {
            set.AddNull();
        } else {
            set.AddCell(bit != 0 ? "1" : "0", 1);
        }
        return;
    }
    if (info.wide) {
        // Whole value first: a surrogate pair may straddle two chunks.
        if (GetWholeValue(stmt, column, SQL_C_WCHAR, scratch.units)) {
            AddWideCell(reinterpret_cast<const SQLWCHAR*>(scratch.units.data()),
                        scratch.units.size(), set, scratch.converted);
        } else {
            set.AddNull();
        }
        return;
    }
    if (GetWholeValue(stmt, column, SQL_C_CHAR, scratch.text)) {
        set.AddCell(scratch.text.data(), scratch.text.size());
    } else {
        set.AddNull();
    }
}

void FetchRowByRow(SQLHSTMT stmt, std::vector<ColumnInfo>& columns, RecordSet::Impl& set) {
    Scratch scratch;
    for (;;) {
        SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA) {
            return;
        }
        CheckOdbc(rc, SQL_HANDLE_STMT, stmt, "SQLFetch");
        set.BeginRow();
        for (std::size_t c = 0; c < columns.size(); ++c) {
            GetDataCell(stmt, static_cast<SQLUSMALLINT>(c + 1), columns[c], set, scratch);
        }
    }
}

SQLSMALLINT BoundCType(const ColumnInfo& col) {
    if (col.type == SQL_BIT) {
        return SQL_C_BIT;
    }
    return col.wide ? SQL_C_WCHAR : SQL_C_CHAR;
}

// Row-array fetch: each column bound to a buffer of `rows` cells.
void FetchBound(SQLHSTMT stmt, std::vector<ColumnInfo>& columns, RecordSet::Impl& set) {
    SQLLEN rowBytes = 0;
    for (const auto& c : columns) {
        rowBytes += c.width;
    }
    // About 4 MiB of buffers per batch.
    const SQLULEN rows = std::clamp<SQLULEN>(
        static_cast<SQLULEN>((4 << 20) / std::max<SQLLEN>(rowBytes, 1)), 1, 1024);
    SQLULEN fetched = 0;
    std::vector<SQLUSMALLINT> status(rows);
    CheckOdbc(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE,
                             reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0),
              SQL_HANDLE_STMT, stmt, "SQLSetStmtAttr(SQL_ATTR_ROW_BIND_TYPE)");
    // NOLINTNEXTLINE(performance-no-int-to-ptr): ODBC takes integer attributes as pointers
    CheckOdbc(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0),
              SQL_HANDLE_STMT, stmt, "SQLSetStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE)");
    CheckOdbc(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_HANDLE_STMT, stmt,
              "SQLSetStmtAttr(SQL_ATTR_ROWS_FETCHED_PTR)");
    CheckOdbc(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0), SQL_HANDLE_STMT,
              stmt, "SQLSetStmtAttr(SQL_ATTR_ROW_STATUS_PTR)");
    for (std::size_t c = 0; c < columns.size(); ++c) {
        auto& col = columns[c];
        col.buffer.assign(static_cast<std::size_t>(col.width) * rows, '\0');
        col.indicators.assign(rows, 0);
        CheckOdbc(SQLBindCol(stmt, static_cast<SQLUSMALLINT>(c + 1), BoundCType(col),
                             col.buffer.data(), col.width, col.indicators.data()),
                  SQL_HANDLE_STMT, stmt, "SQLBindCol");
    }
    Scratch scratch;
    for (;;) {
        SQLRETURN rc = SQLFetchScroll(stmt, SQL_FETCH_NEXT, 0);
        if (rc == SQL_NO_DATA) {
            break;
        }
        CheckOdbc(rc, SQL_HANDLE_STMT, stmt, "SQLFetchScroll");
        for (SQLULEN r = 0; r < fetched; ++r) {
            if (status[r] == SQL_ROW_ERROR) {
                throw DiagnosticFailure(SQL_HANDLE_STMT, stmt, "HY000: Row could not be fetched");
            }
            set.BeginRow();
            for (std::size_t c = 0; c < columns.size(); ++c) {
                const auto& col = columns[c];
                const SQLLEN ind = col.indicators[r];
                const char* cell = col.buffer.data() + static_cast<std::size_t>(col.width) * r;
                // Room left for the terminator: a value that filled it was cut.
                const SQLLEN room =
                    col.width - (col.wide ? static_cast<SQLLEN>(sizeof(SQLWCHAR)) : SQLLEN{1});
                if (ind == SQL_NULL_DATA) {
                    set.AddNull();
                } else if (col.type == SQL_BIT) {
                    set.AddCell(*cell != 0 ? "1" : "0", 1);
                } else if (ind == SQL_NO_TOTAL || ind > room) {
                    // The declared size understated the value (unsized text, for one): read
                    // the whole value again from the row.
                    CheckOdbc(SQLSetPos(stmt, static_cast<SQLSETPOSIROW>(r + 1), SQL_POSITION,
                                        SQL_LOCK_NO_CHANGE),
                              SQL_HANDLE_STMT, stmt, "SQLSetPos");
                    ColumnInfo unbound;
                    unbound.type = col.type;
                    unbound.wide = col.wide;
                    GetDataCell(stmt, static_cast<SQLUSMALLINT>(c + 1), unbound, set, scratch);
                } else if (col.wide) {
                    AddWideCell(reinterpret_cast<const SQLWCHAR*>(cell),
                                static_cast<std::size_t>(ind) / sizeof(SQLWCHAR), set,
                                scratch.converted);
                } else {
                    set.AddCell(cell, static_cast<std::size_t>(ind));
                }
            }
        }
    }
    SQLFreeStmt(stmt, SQL_UNBIND);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
}

}  // namespace

void AppendUtf16AsUtf8(const SQLWCHAR* units, std::size_t count, std::string& out) {
    for (std::size_t i = 0; i < count; ++i) {
        char32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
}

// ---- RecordSet::Impl ----

std::optional<std::string_view> RecordSet::Impl::Cell(std::size_t row, std::size_t column) const {
    const std::size_t n = Columns();
    const std::size_t i = row * n + column;
    if (isNull[i]) {
        return std::nullopt;
    }
    const std::uint64_t begin = rowStart[row] + (column == 0 ? 0 : cellEnd[i - 1]);
    const std::uint64_t end = rowStart[row] + cellEnd[i];
    return std::string_view(arena.data() + begin, static_cast<std::size_t>(end - begin));
}

void RecordSet::Impl::BeginRow() {
    if (Rows() >= std::numeric_limits<std::uint32_t>::max()) {
        throw Failure(kErrOutOfMemory, "Too many rows in the result set");
    }
    rowStart.push_back(arena.size());
}

void RecordSet::Impl::AddCell(const char* data, std::size_t length) {
    arena.append(data, length);
    const std::uint64_t offset = arena.size() - rowStart.back();
    if (offset > std::numeric_limits<std::uint32_t>::max()) {
        throw Failure(kErrOutOfMemory, "Row too large for the result set");
    }
    cellEnd.push_back(static_cast<std::uint32_t>(offset));
    isNull.push_back(false);
}

void RecordSet::Impl::AddNull() {
    cellEnd.push_back(cellEnd.size() % Columns() == 0 ? 0 : cellEnd.back());
    isNull.push_back(true);
}

void FetchRecordSet(SQLHSTMT stmt, TextBinding binding, RecordSet::Impl& set) {
    SQLSMALLINT count = 0;
    CheckOdbc(SQLNumResultCols(stmt, &count), SQL_HANDLE_STMT, stmt, "SQLNumResultCols");
    std::vector<ColumnInfo> columns(static_cast<std::size_t>(count));
    bool allBound = true;
    for (SQLSMALLINT c = 1; c <= count; ++c) {
        SQLCHAR name[512] = {};
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT type = 0;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLSMALLINT nullable = 0;
        CheckOdbc(SQLDescribeCol(stmt, static_cast<SQLUSMALLINT>(c), name, sizeof name, &nameLength,
                                 &type, &size, &digits, &nullable),
                  SQL_HANDLE_STMT, stmt, "SQLDescribeCol");
        set.names.emplace_back(reinterpret_cast<const char*>(name));
        auto& col = columns[static_cast<std::size_t>(c - 1)];
        col.type = type;
        col.wide = binding == TextBinding::Wide && IsText(type);
        col.width = BoundWidth(type, size, col.wide);
        allBound = allBound && col.width > 0;
    }
    if (allBound) {
        FetchBound(stmt, columns, set);
    } else {
        FetchRowByRow(stmt, columns, set);
    }
    // Rows are in memory: the driver's cursor is not needed any more.
    SQLCloseCursor(stmt);
    set.order.resize(set.Rows());
    for (std::size_t i = 0; i < set.order.size(); ++i) {
        set.order[i] = static_cast<std::uint32_t>(i);
    }
    set.position = 0;
    set.open = true;
}

// ---- RecordSet ----

RecordSet::RecordSet() : m_impl(std::make_unique<Impl>()) {}
RecordSet::~RecordSet() = default;
RecordSet::RecordSet(RecordSet&&) noexcept = default;
RecordSet& RecordSet::operator=(RecordSet&&) noexcept = default;

RecordSet::Impl& RecordSet::impl() const {
    if (!m_impl) {
        throw ObjectClosed();
    }
    return *m_impl;
}

namespace {
const RecordSet::Impl& OpenImpl(const RecordSet::Impl& d) {
    if (!d.open) {
        throw ObjectClosed();
    }
    return d;
}
}  // namespace

bool RecordSet::IsOpen() const {
    return m_impl && m_impl->open;
}

bool RecordSet::Bof() const {
    const Impl& d = OpenImpl(impl());
    return d.order.empty();
}

bool RecordSet::Eof() const {
    const Impl& d = OpenImpl(impl());
    return d.position >= d.order.size();
}

std::size_t RecordSet::RowCount() const {
    return OpenImpl(impl()).order.size();
}

void RecordSet::KeepRows(const std::vector<std::size_t>& positions) {
    Impl& d = impl();
    OpenImpl(d);
    std::vector<std::uint32_t> order;
    order.reserve(positions.size());
    for (const std::size_t position : positions) {
        if (position >= d.order.size()) {
            throw Failure(kErrBadArguments,
                          "KeepRows: no row at position " + std::to_string(position));
        }
        order.push_back(d.order[position]);
    }
    d.order = std::move(order);
    d.position = 0;
}

void RecordSet::MoveFirst() {
    Impl& d = impl();
    OpenImpl(d);
    d.position = 0;
}

std::size_t RecordSet::ColumnIndex(std::string_view column) const {
    const Impl& d = OpenImpl(impl());
    for (std::size_t i = 0; i < d.names.size(); ++i) {
        if (EqualsIgnoreCaseAscii(d.names[i], column)) {
            return i;
        }
    }
    throw ItemNotFound(column);
}

std::optional<std::string_view> RecordSet::Field(std::string_view column) const {
    return Field(ColumnIndex(column));
}

std::optional<std::string_view> RecordSet::Field(std::size_t columnIndex) const {
    const Impl& d = OpenImpl(impl());
    if (columnIndex >= d.Columns()) {
        throw ItemNotFound(std::to_string(columnIndex));
    }
    if (d.position >= d.order.size()) {
        throw NoCurrentRecord();
    }
    return d.Cell(d.order[d.position], columnIndex);
}

bool RecordSet::FieldBool(std::size_t columnIndex) const {
    auto value = Field(columnIndex);
    if (!value) {
        return false;
    }
    std::string v = ToLowerAscii(TrimWhitespace(*value));
    if (v == "0" || v == "f" || v == "false" || v == "n" || v == "no") {
        return false;
    }
    if (v == "1" || v == "t" || v == "true" || v == "y" || v == "yes") {
        return true;
    }
    // Any other number: non-zero is true ("-1", "2", "0.0").
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(v.c_str(), &end);
    if (!v.empty() && end == v.c_str() + v.size() && errno == 0) {
        return number != 0.0;
    }
    throw Failure(kErrTypeMismatch, "Type mismatch");
}

void RecordSet::MoveNext() {
    Impl& d = impl();
    OpenImpl(d);
    if (d.position >= d.order.size()) {
        throw NoCurrentRecord();
    }
    ++d.position;
}

void RecordSet::Close() {
    Impl& d = impl();
    if (!d.open) {
        throw ObjectClosed();
    }
    // Release the memory, not only the flag.
    d = Impl{};
}

}  // namespace brimlet::db
