#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/fd_io.h"
#include "common/path.h"
#include "common/system_failure.h"
#include "common/unique_fd.h"
#include "decrypt/tool_files.h"

namespace brimlet::tools {

namespace {

ToolFault ErrnoFault(int err, const std::string& path) {
    return ToolFault{ErrnoFailure(err, path).description()};
}

}  // namespace

struct DocumentFile::Impl {
    std::string path;
    UniqueFd fd;
};

DocumentFile::DocumentFile(const std::string& path) : m_impl(std::make_unique<Impl>()) {
    m_impl->path = path;
    m_impl->fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!m_impl->fd) {
        throw ErrnoFault(errno, path);
    }
}

DocumentFile::~DocumentFile() = default;

std::size_t DocumentFile::Read(char* buffer, std::size_t size) {
    const ssize_t n = ReadSome(m_impl->fd.get(), buffer, size);
    if (n < 0) {
        throw ErrnoFault(errno, m_impl->path);
    }
    return static_cast<std::size_t>(n);
}

struct ReplacingFile::Impl {
    std::string path;
    std::string temp;
    UniqueFd fd;

    void Remove() {
        fd.Close();
        if (!temp.empty()) {
            ::unlink(temp.c_str());
            temp.clear();
        }
    }
};

ReplacingFile::ReplacingFile(std::string path) : m_impl(std::make_unique<Impl>()) {
    Impl& f = *m_impl;
    f.path = std::move(path);
    f.temp = DotNameBeside(f.path, ".XXXXXX");
    f.fd = UniqueFd(::mkostemp(f.temp.data(), O_CLOEXEC));
    if (!f.fd) {
        f.temp.clear();
        throw ErrnoFault(errno, f.path);
    }
    // mkostemp creates 0600; the plain text gets the mode a new file would get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(f.fd.get(), 0666 & ~mask) != 0) {
        const int err = errno;
        f.Remove();
        throw ErrnoFault(err, f.path);
    }
}

ReplacingFile::~ReplacingFile() {
    m_impl->Remove();
}

void ReplacingFile::Write(std::string_view data) {
    if (!WriteAll(m_impl->fd.get(), data)) {
        throw ErrnoFault(errno, m_impl->path);
    }
}

void ReplacingFile::Commit() {
    Impl& f = *m_impl;
    if (f.fd.Close() != 0 || ::rename(f.temp.c_str(), f.path.c_str()) != 0) {
        throw ErrnoFault(errno, f.path);
    }
    f.temp.clear();
}

void UseBinaryStandardOutput() {}

}  // namespace brimlet::tools
