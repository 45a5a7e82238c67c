#pragma once
// At most one running instance per invoked executable path.
#include <string>

#include "common/unique_fd.h"

namespace brimlet {

// Holds an abstract-namespace unix socket named after the executable's path. Binding is
// atomic, leaves no file behind and is released by the kernel when the process dies, however
// it dies.
class InstanceGuard {
  public:
    // True when this process now holds the guard; false when another process holds it.
    // When no socket can be created at all the run goes on unguarded rather than not at all.
    bool Acquire(const std::string& executablePath);

  private:
    UniqueFd m_socket;
};

// The abstract socket name used for a path (exposed for tests).
std::string InstanceGuardName(const std::string& executablePath);

}  // namespace brimlet
