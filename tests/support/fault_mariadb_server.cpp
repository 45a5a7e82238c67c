#include "support/fault_mariadb_server.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "support/e2e.h"
#include "support/fault_listener.h"
#include "support/temp_dir.h"
#include "support/test_db.h"

namespace brimlet::test {

PrivateMariaDbServer::PrivateMariaDbServer(std::string root) : m_root(std::move(root)) {
    const std::string data = m_root + "/mariadb";
    std::string out;
    if (Shell("mariadb-install-db --no-defaults --datadir='" + data +
                  "' --auth-root-authentication-method=normal --skip-test-db --skip-name-resolve",
              out) != 0) {
        throw std::runtime_error("mariadb-install-db failed: " + out);
    }
    m_port = UnusedPort();
    const std::string port = "--port=" + std::to_string(m_port);
    const std::string datadir = "--datadir=" + data;
    const std::string sock = "--socket=" + m_root + "/mariadb.sock";
    const std::string pidFile = "--pid-file=" + m_root + "/mariadb.pid";
    const std::string log = m_root + "/mariadb.log";
    const std::string logError = "--log-error=" + log;
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::setsid();
        ::execlp("mariadbd", "mariadbd", "--no-defaults", datadir.c_str(), port.c_str(),
                 "--bind-address=127.0.0.1", sock.c_str(), pidFile.c_str(), logError.c_str(),
                 "--skip-name-resolve", "--log-bin-trust-function-creators=1",
                 "--innodb-flush-log-at-trx-commit=0", "--innodb-buffer-pool-size=16M",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    m_pid = pid;
    const std::string client =
        "mariadb --no-defaults --socket='" + m_root + "/mariadb.sock' -u root";
    for (int i = 0; Shell(client + " -e 'SELECT 1'", out) != 0; ++i) {
        int status = 0;
        if (i >= 300 || ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            throw std::runtime_error("mariadbd did not start: " + ReadFile(log));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    WriteFile(m_root + "/users.sql",
              "CREATE USER 'brimlet'@'127.0.0.1' IDENTIFIED BY 'Tk3vQp8w';\n"
              "GRANT ALL PRIVILEGES ON *.* TO 'brimlet'@'127.0.0.1';\n"
              "CREATE DATABASE brimlet_fault;\n");
    if (Shell(client + " < '" + m_root + "/users.sql'", out) != 0) {
        throw std::runtime_error("mariadb: " + out);
    }
}

PrivateMariaDbServer::~PrivateMariaDbServer() {
    if (m_pid > 0) {
        ::kill(-m_pid, SIGCONT);
        ::kill(-m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

std::string PrivateMariaDbServer::ConnectionString() const {
    return "Driver=MariaDB Unicode;Server=127.0.0.1;Port=" + std::to_string(m_port) +
           ";Database=brimlet_fault;Uid=brimlet;Pwd=Tk3vQp8w";
}

void PrivateMariaDbServer::ExecScript(const std::string& text) const {
    const std::string file = m_root + "/script.sql";
    WriteFile(file, text + "\n");
    std::string out;
    if (Shell("mariadb --no-defaults --socket='" + m_root +
                  "/mariadb.sock' -u root brimlet_fault < '" + file + "'",
              out) != 0) {
        throw std::runtime_error("mariadb failed: " + out);
    }
}

}  // namespace brimlet::test
