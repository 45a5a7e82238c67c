#include "support/fault_pg_server.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "support/e2e.h"
#include "support/fault_listener.h"
#include "support/temp_dir.h"
#include "support/test_db.h"

namespace brimlet::test {

namespace {

const std::string kPgBin = "/usr/lib/postgresql/15/bin";

}  // namespace

PrivatePgServer::PrivatePgServer(std::string root) : m_root(std::move(root)) {
    ::mkdir((m_root + "/sock").c_str(), 0700);
    std::string out;
    if (Shell(kPgBin + "/initdb -D '" + m_root + "/pg' -U brimlet --auth=trust -E UTF8 " +
                  "--locale=C.UTF-8 --no-sync",
              out) != 0) {
        throw std::runtime_error("initdb failed: " + out);
    }
}

PrivatePgServer::~PrivatePgServer() {
    if (m_pid > 0) {
        Kill();
    }
}

void PrivatePgServer::Start() {
    m_port = UnusedPort();
    const std::string data = m_root + "/pg";
    const std::string port = std::to_string(m_port);
    const std::string sock = m_root + "/sock";
    const std::string log = m_root + "/pg.log";
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::setsid();
        // The child's own stdio streams become the server's log; nothing here owns them.
        if (std::freopen(log.c_str(), "a", stdout) == nullptr ||  // NOLINT(*-owning-memory)
            std::freopen(log.c_str(), "a", stderr) == nullptr) {  // NOLINT(*-owning-memory)
            ::_exit(126);
        }
        const std::string postgres = kPgBin + "/postgres";
        ::execl(postgres.c_str(), "postgres", "-D", data.c_str(), "-p", port.c_str(), "-k",
                sock.c_str(), "-h", "127.0.0.1", "-c", "fsync=off", "-c", "synchronous_commit=off",
                "-c", "full_page_writes=off", "-c", "autovacuum=off", "-c", "shared_buffers=32MB",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    m_pid = pid;
    std::string out;
    const std::string isReady = kPgBin + "/pg_isready -q -h 127.0.0.1 -p " + port;
    for (int i = 0; i < 300; ++i) {
        if (Shell(isReady, out) == 0) {
            return;
        }
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("postgres exited during start-up: " + ReadFile(log));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Kill();
    throw std::runtime_error("postgres did not accept connections in 30 s: " + ReadFile(log));
}

void PrivatePgServer::WaitGone() {
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}

void PrivatePgServer::Stop() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGINT);
        WaitGone();
    }
}

void PrivatePgServer::Kill() {
    if (m_pid > 0) {
        // Backends too, each by its pid: they lead process groups of their own, and one that
        // outlived the postmaster would finish serving the query it holds.
        const std::vector<pid_t> processes = ServerProcesses(m_pid);
        for (const pid_t pid : processes) {
            ::kill(pid, SIGKILL);
        }
        ::kill(-m_pid, SIGKILL);
        WaitGone();
        // The postmaster's children are reparented, not ours to wait for; give them a moment.
        for (int i = 0; i < 50 && ::kill(-m_pid, 0) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

std::string PrivatePgServer::ConnectionString() const {
    return "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=" + std::to_string(m_port) +
           ";Database=postgres;Uid=brimlet;Pwd=unused";
}

void PrivatePgServer::ExecScript(const std::string& text) const {
    const std::string file = m_root + "/script.sql";
    WriteFile(file, text + "\n;\n");
    std::string out;
    if (Shell(kPgBin + "/psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p " + std::to_string(m_port) +
                  " -U brimlet -d postgres -f '" + file + "'",
              out) != 0) {
        throw std::runtime_error("psql failed: " + out);
    }
}

std::string PrivatePgServer::Query(const std::string& sql) const {
    const std::string file = m_root + "/query.sql";
    WriteFile(file, sql + ";\n");
    std::string out;
    if (Shell(kPgBin + "/psql -X -q -A -t -v ON_ERROR_STOP=1 -h 127.0.0.1 -p " +
                  std::to_string(m_port) + " -U brimlet -d postgres -f '" + file + "'",
              out) != 0) {
        throw std::runtime_error("psql failed: " + out);
    }
    return out;
}

}  // namespace brimlet::test
