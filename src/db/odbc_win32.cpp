#include <malloc.h>

#include <algorithm>
#include <array>
#include <string>

#include "common/code_page_win32.h"
#include "db/odbc_internal.h"

namespace brimlet::db {

// psqlODBC for Windows writes its logs only where its own settings say; nothing of ours to
// remove. (Under Wine the host's driver runs and may leave its /tmp file, which Windows has not.)
void RemoveDisconnectLog() noexcept {}

void ReleaseFreedHeap() noexcept {
    (void)_heapmin();
}

static_assert(sizeof(SQLWCHAR) == sizeof(wchar_t));

namespace {

SQLWCHAR* Units(std::wstring& text) {
    return reinterpret_cast<SQLWCHAR*>(text.data());
}

}  // namespace

SQLRETURN DriverConnectText(SQLHDBC dbc, std::string_view connectionString) {
    std::wstring text = WideFromAnsi(connectionString);
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc =
        SQLDriverConnectW(dbc, nullptr, Units(text), static_cast<SQLSMALLINT>(text.size()), nullptr,
                          0, &outLength, SQL_DRIVER_NOPROMPT);
    // The text holds the password.
    std::fill(text.begin(), text.end(), L'\0');
    return rc;
}

SQLRETURN ExecDirectText(SQLHSTMT stmt, std::string_view sql) {
    std::wstring text = WideFromAnsi(sql);
    return SQLExecDirectW(stmt, Units(text), static_cast<SQLINTEGER>(text.size()));
}

bool DiagnosticRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, std::string& state,
                      SQLINTEGER& native, std::string& message) {
    std::array<SQLWCHAR, SQL_SQLSTATE_SIZE + 1> stateBuffer{};
    std::array<SQLWCHAR, 2048> messageBuffer{};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, record, stateBuffer.data(), &native,
                                      messageBuffer.data(),
                                      static_cast<SQLSMALLINT>(messageBuffer.size()), &length))) {
        return false;
    }
    // The log's code page; what it lacks becomes its best fit or "?".
    state = AnsiFromWide(reinterpret_cast<const wchar_t*>(stateBuffer.data()));
    message = AnsiFromWide(reinterpret_cast<const wchar_t*>(messageBuffer.data()));
    return true;
}

const SQLSMALLINT kTextParameterCType = SQL_C_WCHAR;
const std::size_t kTextParameterUnit = sizeof(SQLWCHAR);

std::string TextParameterBytes(std::string_view text) {
    const std::wstring wide = WideFromAnsi(text);
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

std::string TextFromParameterBytes(std::string_view bytes) {
    std::string text;
    AppendUtf16AsUtf8(reinterpret_cast<const SQLWCHAR*>(bytes.data()),
                      bytes.size() / sizeof(SQLWCHAR), text);
    return text;
}

TextBinding PlatformTextBinding(TextBinding /*chosen*/) {
    return TextBinding::Wide;
}

}  // namespace brimlet::db
