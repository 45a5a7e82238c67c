#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "common/fd_io.h"
#include "common/text.h"
#include "common/unique_fd.h"
#include "db/odbc_internal.h"

namespace brimlet::db {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

// psqlODBC logs its disconnect under the driver-wide CommLog of odbcinst.ini, whatever the
// connection's own: a /tmp/psqlodbc_<exe>_<user><pid>.log holding one "PQfinish" line. A file
// of that name that is ours and holds nothing else is removed; any other is left alone.
void RemoveDisconnectLog() noexcept {
    try {
        const passwd* user = ::getpwuid(::getuid());
        if (user == nullptr) {
            return;
        }
        const std::string suffix = std::string(user->pw_name) + std::to_string(::getpid()) + ".log";
        const std::unique_ptr<DIR, DirCloser> tmp(::opendir("/tmp"));
        if (!tmp) {
            return;
        }
        const int dirFd = ::dirfd(tmp.get());
        while (const dirent* entry = ::readdir(tmp.get())) {
            const std::string_view name = entry->d_name;
            if (name.rfind("psqlodbc_", 0) != 0 || name.size() < suffix.size() ||
                name.substr(name.size() - suffix.size()) != suffix) {
                continue;
            }
            const UniqueFd fd(
                ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            struct stat st {};
            std::string text;
            if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
                st.st_uid != ::getuid() || st.st_size > 4096 || !ReadUpTo(fd.get(), 4096, text)) {
                continue;
            }
            bool onlyDisconnect = !text.empty();
            for (const std::string_view line : Split(text, '\n')) {
                onlyDisconnect =
                    onlyDisconnect && (line.empty() || line.rfind("PQfinish: ", 0) == 0);
            }
            if (onlyDisconnect) {
                (void)::unlinkat(dirFd, entry->d_name, 0);
            }
        }
    } catch (...) {
        // Litter is no failure of the run.
    }
}

// unixODBC hands narrow text to the driver as it is: our UTF-8, which the drivers are set up to
// read (psqlodbcw, CHARSET=utf8mb4).
SQLRETURN DriverConnectText(SQLHDBC dbc, std::string_view connectionString) {
    SQLSMALLINT outLength = 0;
    // ODBC's input strings are not const, yet never written.
    auto* text = reinterpret_cast<SQLCHAR*>(const_cast<char*>(connectionString.data()));
    return SQLDriverConnect(dbc, nullptr, text, static_cast<SQLSMALLINT>(connectionString.size()),
                            nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT);
}

SQLRETURN ExecDirectText(SQLHSTMT stmt, std::string_view sql) {
    std::string text(sql);
    return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()),
                         static_cast<SQLINTEGER>(text.size()));
}

bool DiagnosticRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, std::string& state,
                      SQLINTEGER& native, std::string& message) {
    std::array<SQLCHAR, SQL_SQLSTATE_SIZE + 1> stateBuffer{};
    std::array<SQLCHAR, 2048> messageBuffer{};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, record, stateBuffer.data(), &native,
                                     messageBuffer.data(),
                                     static_cast<SQLSMALLINT>(messageBuffer.size()), &length))) {
        return false;
    }
    state = reinterpret_cast<const char*>(stateBuffer.data());
    message = reinterpret_cast<const char*>(messageBuffer.data());
    return true;
}

const SQLSMALLINT kTextParameterCType = SQL_C_CHAR;
const std::size_t kTextParameterUnit = 1;

std::string TextParameterBytes(std::string_view text) {
    return std::string(text);
}

std::string TextFromParameterBytes(std::string_view bytes) {
    return std::string(bytes);
}

TextBinding PlatformTextBinding(TextBinding chosen) {
    return chosen;
}

void ReleaseFreedHeap() noexcept {
    // psqlODBC keeps every value in a block of its own; glibc keeps freed pages otherwise.
    malloc_trim(0);
}

}  // namespace brimlet::db
