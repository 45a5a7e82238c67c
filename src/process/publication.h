#pragma once
// A document and its record change together. While a run publishes, it holds the document's
// lock, so that runs of other links for the same document take turns; the document it
// replaced is kept beside it under a dot name until the record is made, and comes back when
// the record is not made.
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "common/failure.h"
#include "process/lock_handle.h"

namespace brimlet {

// ".<name>.lock" beside the document: a write lock (F_OFD_SETLK) on a file that only the
// publishing account (or the group of a group-shared directory) can open. On Windows the lock
// is LockFileEx's, on a file whose access list names only the account and Administrators.
class DocumentLock {
  public:
    // NothingToGuard: the document's directory is missing or not writable by this account, so
    // this run cannot change the document; the write itself then fails with its own error.
    enum class Result { Acquired, NothingToGuard, TimedOut, Stopped };

    // "<dir>/.<name>.lock" for "<dir>/<name>".
    static std::string PathFor(const std::string& documentPath);

    // Opens the lock file (created 0600, or 0660 where the directory is group-shared: setgid
    // or group-writable), without following a symlink, and refuses one that is not a regular
    // file of this account (or, in a group-shared directory, of its group) with one link.
    // Then waits for the lock up to `wait`, looking at `stopped` between tries. Throws
    // Failure when the file cannot be used.
    Result Acquire(const std::string& documentPath, std::chrono::milliseconds wait,
                   const std::function<bool()>& stopped);
    bool Held() const { return static_cast<bool>(m_lock); }
    void Release() noexcept { m_lock.Close(); }

  private:
    // Per platform: the lock file opened and judged as Acquire says, or none when there is
    // nothing to guard. Throws Failure.
    static std::optional<LockHandle> Open(const std::string& documentPath, const std::string& path);
    // Per platform: one try for the lock without waiting; false while another holds it.
    // Throws Failure.
    static bool TryOnce(const LockHandle& file, const std::string& path);

    LockHandle m_lock;
};

// What became of the checksum call for the new document.
enum class RecordOutcome { Made, NotMade, Unknown };

// What Settle did, for the caller to report.
struct Settlement {
    enum class Action {
        AlreadySettled,   // an earlier Settle ended it; nothing changed
        Kept,             // recorded, or nothing was replaced: the path holds what it holds
        PreviousPutBack,  // the kept document is back at the path
        NewRemoved,       // there was none before: the new document is gone
        UndoFailed,       // the new document could not be undone: `failure` says why
    };
    Action action = Action::AlreadySettled;
    std::optional<Failure> failure;
};

// One publication under way: its lock, and the document it replaced.
class Publication {
  public:
    explicit Publication(std::string documentPath);
    // Removes a kept document that is still there: an unsettled publication keeps what is
    // served.
    ~Publication();
    Publication(const Publication&) = delete;
    Publication& operator=(const Publication&) = delete;

    // "<dir>/.<name>.previous" for "<dir>/<name>".
    static std::string KeptPathFor(const std::string& documentPath);

    DocumentLock& lock() { return m_lock; }
    const std::string& documentPath() const { return m_path; }

    // Before the rename: keeps what is at the document's path (if anything) as a hard link
    // under the kept name (CreateHardLinkA on Windows: NTFS), replacing a leftover of a killed
    // run. A read-only document (Windows) loses the attribute until Settle, which gives it to
    // whatever document is then served. Throws Failure.
    void KeepPrevious();
    // The rename failed: the kept link goes, the document was never touched.
    void DropKept() noexcept;
    // After the rename: from here the new document is served and its record is pending.
    void MarkReplaced() noexcept { m_replaced = true; }
    bool Replaced() const { return m_replaced; }

    // The checksum call is running: a run ended now cannot tell whether it was recorded.
    std::atomic<bool> callInFlight{false};

    // Ends the publication once, whichever thread comes first. Made: the new document stays.
    // Otherwise the kept document is renamed back over the path (or the new one removed where
    // there was none). The lock is released. Writes nothing: the caller reports what it did.
    Settlement Settle(RecordOutcome outcome) noexcept;
    bool Settled() const { return m_settled.load(); }
    // True once Settle put the previous document back.
    bool RolledBack() const { return m_rolledBack.load(); }

  private:
    // Marks the document read-only again when it was before this publication.
    void RestoreReadOnly() noexcept;

    std::string m_path;
    std::string m_kept;
    DocumentLock m_lock;
    bool m_hadPrevious = false;
    // Read by the watchdog's thread too.
    std::atomic<bool> m_keeping{false};
    std::atomic<bool> m_replaced{false};
    std::atomic<bool> m_settled{false};
    std::atomic<bool> m_rolledBack{false};
    std::atomic<bool> m_readOnly{false};
};

}  // namespace brimlet
