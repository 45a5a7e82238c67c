#pragma once
// At most one running instance per invoked link, however its directory is reached.
#include <string>

#include "process/lock_handle.h"

namespace brimlet {

// Holds a lock (flock) on `.<link>.lock` in the link's directory: a file of the account's own,
// mode 0600, so that no other account can even open it, let alone take the lock first. The lock
// is atomic and released by the kernel when the process dies, however it dies; the file stays.
// A directory alias reaches the same file; hard links under other names have files of their own.
// On Windows the lock is LockFileEx's, on `Log\.<link>.lock`, a file with the log directory's
// inherited access list: a run needs to write only there and to its output, never to the
// program's folder (Program Files), and every account that may log for the pair may lock it.
class InstanceGuard {
  public:
    enum class State {
        Held,           // this process now holds the guard
        HeldElsewhere,  // another process holds it: the silent second instance
        Refused,        // the lock file cannot be used (see Refusal)
    };
    State Acquire(const std::string& executablePath);
    // Why the lock file was refused: a one-line text naming it.
    const std::string& Refusal() const { return m_refusal; }

  private:
    // The platform's part: opens and locks the file at `path` into `lock`; when it answers
    // Refused, `why` says what is wrong with the file.
    static State Lock(const std::string& path, LockHandle& lock, std::string& why);

    LockHandle m_lock;
    std::string m_refusal;
};

// The lock file of a link: "<dir>/.<name>.lock"; on Windows "<dir>\Log\.<name>.lock", the name
// without its ".exe".
std::string InstanceLockPath(const std::string& executablePath);

}  // namespace brimlet
