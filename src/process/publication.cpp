#include "process/publication.h"

#include "common/failure.h"
#include "common/path.h"
#include "process/files.h"

namespace brimlet {

std::string DocumentLock::PathFor(const std::string& documentPath) {
    return DotNameBeside(documentPath, ".lock");
}

Publication::Publication(std::string documentPath)
    : m_path(std::move(documentPath)), m_kept(KeptPathFor(m_path)) {}

Publication::~Publication() {
    DropKept();
}

std::string Publication::KeptPathFor(const std::string& documentPath) {
    return DotNameBeside(documentPath, ".previous");
}

void Publication::KeepPrevious() {
    // Only the lock holder comes here, so a kept file found now is a killed run's leftover.
    if (std::optional<Failure> failure = RemoveFile(m_kept, "remove " + m_kept)) {
        throw *failure;
    }
    // A hard link keeps the old document whole at no cost; it goes back with one rename.
    if (HardLinkIfPresent(m_path, m_kept, "keep " + m_path + " as " + m_kept)) {
        m_hadPrevious = true;
        m_keeping = true;
        return;
    }
    m_hadPrevious = false;
}

void Publication::DropKept() noexcept {
    if (m_keeping.exchange(false)) {
        RemoveFileQuietly(m_kept);
    }
}

void Publication::Settle(LogFile& log, RecordOutcome outcome) noexcept {
    if (m_settled.exchange(true)) {
        return;
    }
    if (!m_replaced || outcome == RecordOutcome::Made) {
        DropKept();
        m_lock.Release();
        return;
    }
    const bool restored = m_hadPrevious;
    const std::optional<Failure> failure =
        restored ? RenameOver(m_kept, m_path, "put back " + m_kept + " as " + m_path)
                 : RemoveFile(m_path, "remove " + m_path);
    if (!failure) {
        m_keeping = false;
        m_rolledBack = true;
        const std::string why = outcome == RecordOutcome::Unknown
                                    ? "Checksum update outcome unknown: "
                                    : "Checksum not updated in the database: ";
        WriteLog(
            log, "modMain", "SubUpdateXmlCheckSum", "MSG",
            why + (restored ? "the previous xml file is put back" : "the new xml file is removed"),
            m_path, "");
    } else {
        WriteErrorEntry(log, "SubUpdateXmlCheckSum", *failure, 240);
        DropKept();
    }
    m_lock.Release();
}

}  // namespace brimlet
