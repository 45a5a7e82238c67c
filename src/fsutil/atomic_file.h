#pragma once
// A file that appears at its path whole or not at all: written to a temporary file beside
// it and renamed over the path only on Commit().
#include <memory>
#include <string>
#include <string_view>

namespace brimlet {

class AtomicFile {
  public:
    // Creates the temporary file beside `path`: unnamed where the file system allows it (so a
    // killed process leaves nothing), else "<dir>/.<name>.XXXXXX" (on Windows always named,
    // and marked for deletion until Commit, which serves the same end). Throws Failure
    // (errno, or the Win32 error code) when it cannot be created, e.g. when the directory
    // does not exist.
    explicit AtomicFile(std::string path);
    // Removes the temporary file unless Commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Writes all of `data`; throws Failure on any failure.
    void Write(std::string_view data);
    // Flushes to disk, closes the file and renames it over the path. On Linux the file first
    // gets the mode of an ordinary new file (0666 less the umask) and the directory is synced
    // after the rename (best effort: the rename has already happened); on Windows the file
    // keeps the security it inherited from the directory, as a new file there would, and the
    // rename is written through. Throws Failure on any failure before the rename, leaving the
    // path untouched.
    void Commit();

    const std::string& path() const { return m_path; }
    // The temporary file's name; empty while the file is unnamed.
    const std::string& tempPath() const { return m_tempPath; }

  private:
    // The platform's open file.
    struct Handle;

    // The temporary file for error texts: its name, or what it is for while it has none.
    std::string TempName() const;

    std::string m_path;
    std::string m_tempPath;
    std::unique_ptr<Handle> m_file;
    bool m_committed = false;
};

#ifndef _WIN32
// The process's file mode creation mask, read without changing it.
unsigned CurrentUmask();
#endif

}  // namespace brimlet
