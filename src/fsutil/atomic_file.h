#pragma once
// A file that appears at its path whole or not at all: written to a temporary file beside
// it and renamed over the path only on Commit().
#include <string>
#include <string_view>

#include "common/unique_fd.h"

namespace brimlet {

class AtomicFile {
  public:
    // Creates the temporary file beside `path`: unnamed where the file system allows it (so a
    // killed process leaves nothing), else "<dir>/.<name>.XXXXXX". Throws Failure
    // (errno) when it cannot be created, e.g. when the directory does not exist.
    explicit AtomicFile(std::string path);
    // Removes the temporary file unless Commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Writes all of `data`; throws Failure (errno) on any failure.
    void Write(std::string_view data);
    // Flushes to disk, gives the file the mode of an ordinary new file (0666 less the
    // umask), closes it and renames it over the path; then syncs the directory (best
    // effort: the rename has already happened). Throws Failure on any failure before the
    // rename, leaving the path untouched.
    void Commit();

    const std::string& path() const { return m_path; }
    // The temporary file's name; empty while the file is unnamed.
    const std::string& tempPath() const { return m_tempPath; }

  private:
    // Gives the unnamed file a temporary name beside the path, ready for the rename.
    void LinkUnnamed();
    // The temporary file for error texts: its name, or what it is for while it has none.
    std::string TempName() const;

    std::string m_path;
    std::string m_tempPath;
    UniqueFd m_fd;
    bool m_committed = false;
};

// The process's file mode creation mask, read without changing it.
unsigned CurrentUmask();

}  // namespace brimlet
