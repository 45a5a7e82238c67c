#include "fsutil/atomic_file.h"

namespace brimlet {

std::string AtomicFile::TempName() const {
    // Unnamed until Commit: an error text still has to say which file failed.
    return m_tempPath.empty() ? "temporary file for " + m_path : m_tempPath;
}

}  // namespace brimlet
