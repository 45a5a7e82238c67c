#pragma once
// A PostgreSQL instance of a test's own, for faults that stop or kill the server. It runs as
// the calling user on 127.0.0.1 (trust login, a private socket directory) from a data
// directory under `root`, in a process group of its own, so that Kill() takes the postmaster
// and every backend down at once. Never the suite's shared servers.
#include <sys/types.h>

#include <string>

namespace brimlet::test {

class PrivatePgServer {
  public:
    // initdb under root/pg (once; reused by a later Start). Throws std::runtime_error with the
    // tool's output when that fails.
    explicit PrivatePgServer(std::string root);
    // Kills the server if it still runs.
    ~PrivatePgServer();
    PrivatePgServer(const PrivatePgServer&) = delete;
    PrivatePgServer& operator=(const PrivatePgServer&) = delete;

    // Starts the postmaster on a free port and waits until it accepts logins. Throws on failure.
    void Start();
    // Fast shutdown (SIGINT), waits until the postmaster is gone.
    void Stop();
    // SIGKILL to the server's whole process group, waits until the postmaster is gone.
    void Kill();
    bool Running() const { return m_pid > 0; }
    // The postmaster, leader of the server's process group.
    pid_t pid() const { return m_pid; }

    int port() const { return m_port; }
    // ODBC connection string to database "postgres" as user brimlet.
    std::string ConnectionString() const;
    // Runs a script (psql's syntax; the last statement may lack its ";") through psql; throws
    // with psql's output on the first error.
    void ExecScript(const std::string& text) const;
    // psql's unaligned, tuples-only output of one query.
    std::string Query(const std::string& sql) const;

  private:
    void WaitGone();

    std::string m_root;
    pid_t m_pid = -1;
    int m_port = 0;
};

}  // namespace brimlet::test
