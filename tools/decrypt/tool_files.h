#pragma once
// The files of brimlet-decrypt: the document read in pieces, the output file that replaces its
// target only once complete, and standard output taking the text's bytes unchanged. One
// declaration, a POSIX and a Win32 implementation.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace brimlet::tools {

// A fault whose stderr line is complete: the input's carry its path, the output's theirs.
struct ToolFault {
    std::string line;
};

// The document file, opened for reading. Throws ToolFault "PATH: reason" when it cannot be
// opened or read.
class DocumentFile {
  public:
    explicit DocumentFile(const std::string& path);
    ~DocumentFile();
    DocumentFile(const DocumentFile&) = delete;
    DocumentFile& operator=(const DocumentFile&) = delete;

    // Up to `size` bytes into `buffer`; 0 at the end.
    std::size_t Read(char* buffer, std::size_t size);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A file written beside `path` under a temporary name, which replaces `path` only on Commit;
// removed when dropped uncommitted. It gets the access a new file in its directory gets.
// Throws ToolFault "PATH: reason".
class ReplacingFile {
  public:
    explicit ReplacingFile(std::string path);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    void Write(std::string_view data);
    void Commit();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Standard output passes the plain text's bytes unchanged (Windows' text mode would add a CR
// before every LF, and the document's line ends are CR LF already).
void UseBinaryStandardOutput();

}  // namespace brimlet::tools
