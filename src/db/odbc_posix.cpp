#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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

void ReleaseFreedHeap() noexcept {
    // psqlODBC keeps every value in a block of its own; glibc keeps freed pages otherwise.
    malloc_trim(0);
}

}  // namespace brimlet::db
