#include "process/publication.h"

#include <thread>

#include "common/failure.h"
#include "common/path.h"
#include "process/files.h"

namespace brimlet {

namespace {

constexpr auto kLockPoll = std::chrono::milliseconds(50);

}  // namespace

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
    (void)ClearReadOnly(m_kept, "remove " + m_kept);
    if (std::optional<Failure> failure = RemoveFile(m_kept, "remove " + m_kept)) {
        throw *failure;
    }
    // A hard link keeps the old document whole at no cost; it goes back with one rename.
    if (HardLinkIfPresent(m_path, m_kept, "keep " + m_path + " as " + m_kept)) {
        m_hadPrevious = true;
        m_keeping = true;
        // A read-only document (Windows) could be neither replaced nor, as the kept copy,
        // removed; whatever ends up served is marked again.
        m_readOnly = ClearReadOnly(m_path, "replace read-only " + m_path);
        return;
    }
    m_hadPrevious = false;
}

void Publication::DropKept() noexcept {
    if (m_keeping.exchange(false)) {
        RemoveFileQuietly(m_kept);
    }
    RestoreReadOnly();
}

void Publication::RestoreReadOnly() noexcept {
    if (m_readOnly.exchange(false)) {
        MarkReadOnly(m_path);
    }
}

Settlement Publication::Settle(RecordOutcome outcome) noexcept {
    Settlement done;
    if (m_settled.exchange(true)) {
        return done;
    }
    if (!m_replaced || outcome == RecordOutcome::Made) {
        DropKept();
        m_lock.Release();
        done.action = Settlement::Action::Kept;
        return done;
    }
    const bool restored = m_hadPrevious;
    done.failure = restored ? RenameOver(m_kept, m_path, "put back " + m_kept + " as " + m_path)
                            : RemoveFile(m_path, "remove " + m_path);
    if (!done.failure) {
        m_keeping = false;
        RestoreReadOnly();
        m_rolledBack = true;
        done.action =
            restored ? Settlement::Action::PreviousPutBack : Settlement::Action::NewRemoved;
    } else {
        done.action = Settlement::Action::UndoFailed;
        DropKept();
    }
    m_lock.Release();
    return done;
}

DocumentLock::Result DocumentLock::Acquire(const std::string& documentPath,
                                           std::chrono::milliseconds wait,
                                           const std::function<bool()>& stopped) {
    const std::string path = PathFor(documentPath);
    std::optional<LockHandle> file = Open(documentPath, path);
    if (!file) {
        return Result::NothingToGuard;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!TryOnce(*file, path)) {
        if (stopped && stopped()) {
            return Result::Stopped;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return Result::TimedOut;
        }
        std::this_thread::sleep_for(kLockPoll);
    }
    m_lock = std::move(*file);
    return Result::Acquired;
}

}  // namespace brimlet
