#pragma once
// At most one running instance per invoked link, however its directory is reached.
#include <string>

#include "common/unique_fd.h"

namespace brimlet {

// Holds an abstract-namespace unix socket named after the link's identity (device and inode
// taken without following it, its directory and its name). Binding is atomic, leaves no file
// behind and is released by the kernel when the process dies, however it dies.
class InstanceGuard {
  public:
    // True when this process now holds the guard; false when another process holds it.
    // When no socket can be created at all the run goes on unguarded rather than not at all.
    bool Acquire(const std::string& executablePath);

  private:
    UniqueFd m_socket;
};

// The abstract socket name used for a path (exposed for tests); a path that cannot be
// looked at is keyed on its text.
std::string InstanceGuardName(const std::string& executablePath);

}  // namespace brimlet
