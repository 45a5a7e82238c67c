#pragma once
// A MariaDB instance of a test's own, for faults that stop the server: mariadbd on 127.0.0.1
// from a data directory under `root`, in a process group of its own. Never the suite's shared
// server.
#include <sys/types.h>

#include <string>

namespace brimlet::test {

class PrivateMariaDbServer {
  public:
    // Creates the data directory and starts the server with user brimlet (password Tk3vQp8w)
    // and database brimlet_fault. Throws std::runtime_error with the tools' output on failure.
    explicit PrivateMariaDbServer(std::string root);
    // Resumes and kills the server.
    ~PrivateMariaDbServer();
    PrivateMariaDbServer(const PrivateMariaDbServer&) = delete;
    PrivateMariaDbServer& operator=(const PrivateMariaDbServer&) = delete;

    pid_t pid() const { return m_pid; }
    int port() const { return m_port; }
    std::string ConnectionString() const;
    // Runs a script through the client as it stands (`;` ends a statement, DELIMITER where a
    // body needs it), in brimlet_fault.
    void ExecScript(const std::string& text) const;

  private:
    std::string m_root;
    pid_t m_pid = -1;
    int m_port = 0;
};

}  // namespace brimlet::test
