#include "support/e2e.h"

#include <dirent.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

extern char** environ;

namespace brimlet::test {

std::string BrimletBinary() {
    return std::string(BRIMLET_BINARY_DIR) + "/bin/brimlet";
}

std::string LinkBrimlet(const std::string& dir, const std::string& name) {
    std::string link = dir + "/" + name;
    if (::symlink(BrimletBinary().c_str(), link.c_str()) != 0) {
        throw std::runtime_error("symlink " + link + ": " + std::strerror(errno));
    }
    return link;
}

ProcessResult RunProgram(const std::string& program, const std::string& argv0,
                         const std::string& cwd, const std::vector<std::string>& extraEnv) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        envStrings.emplace_back(*e);
    }
    for (const auto& kv : extraEnv) {
        envStrings.push_back(kv);
    }
    std::vector<char*> envp;
    envp.reserve(envStrings.size() + 1);
    for (auto& s : envStrings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    std::string arg0 = argv0;
    std::vector<char*> argv{arg0.data(), nullptr};

    const int errFd = ::memfd_create("stderr", MFD_CLOEXEC);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        if (::chdir(cwd.c_str()) != 0 || (errFd >= 0 && ::dup2(errFd, STDERR_FILENO) < 0)) {
            ::_exit(126);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProcessResult r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) {
        r.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        r.signal = WTERMSIG(status);
    }
    if (errFd >= 0) {
        char buf[4096];
        ssize_t n = 0;
        while ((n = ::pread(errFd, buf, sizeof buf, static_cast<off_t>(r.err.size()))) > 0) {
            r.err.append(buf, static_cast<std::size_t>(n));
        }
        ::close(errFd);
    }
    return r;
}

int Shell(const std::string& command, std::string& output) {
    output.clear();
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) {
        return -1;
    }
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        output.append(buf, n);
    }
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

LogFileContent ReadLog(const std::string& path) {
    LogFileContent log;
    log.raw = ReadFile(path);
    std::size_t pos = 0;
    while (pos < log.raw.size()) {
        std::size_t end = log.raw.find("\r\n", pos);
        if (end == std::string::npos) {
            end = log.raw.size();
            log.lastLineEnded = false;
        }
        const std::string line = log.raw.substr(pos, end - pos);
        pos = end + 2;
        if (line.rfind('#', 0) == 0 || line.rfind("---", 0) == 0) {
            log.header.push_back(line);
            continue;
        }
        LogColumns cols;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', start);
            cols.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
            if (tab == std::string::npos) {
                break;
            }
            start = tab + 1;
        }
        log.entries.push_back(cols);
    }
    return log;
}

std::vector<LogColumns> CheckedEntries(const LogFileContent& log) {
    EXPECT_TRUE(log.lastLineEnded) << "log line without CR LF at the end: " << log.raw;
    std::vector<LogColumns> out;
    for (const LogColumns& cols : log.entries) {
        std::string line;
        for (const std::string& c : cols) {
            line += c;
            line += '\t';
        }
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "line break in entry: " << line;
        EXPECT_EQ(cols.size(), 7u) << "entry without seven columns: " << line;
        if (cols.size() == 7) {
            out.emplace_back(cols.begin() + 1, cols.end());
        }
    }
    return out;
}

std::string FindLogFile(const std::string& dir) {
    const std::string logDir = dir + "/Log";
    DIR* d = ::opendir(logDir.c_str());
    if (d == nullptr) {
        return {};
    }
    std::string found;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0) {
            found = logDir;
            found += "/";
            found += name;
        }
    }
    ::closedir(d);
    return found;
}

std::vector<std::string> EntryTexts(const LogFileContent& log) {
    std::vector<std::string> out;
    for (const auto& cols : log.entries) {
        std::string s;
        for (std::size_t i = 1; i < cols.size(); ++i) {
            if (i > 1) {
                s += "|";
            }
            s += cols[i];
        }
        out.push_back(s);
    }
    return out;
}

void WriteIni(const std::string& dir, const std::vector<std::string>& lines) {
    ::mkdir((dir + "/Ini").c_str(), 0755);
    std::string content = "[Brimlet]\r\n";
    for (const auto& l : lines) {
        content += l + "\r\n";
    }
    WriteFile(dir + "/Ini/dbstring.Ini", content);
}

// PostgreSQL's backends lead process groups of their own: a signal to the postmaster's group
// does not reach them.
std::vector<pid_t> ServerProcesses(pid_t root) {
    std::vector<pid_t> pids{root};
    DIR* proc = ::opendir("/proc");
    while (dirent* e = proc != nullptr ? ::readdir(proc) : nullptr) {
        const std::string stat = ReadFile(std::string("/proc/") + e->d_name + "/stat");
        const auto close = stat.rfind(')');
        int ppid = 0;
        if (close != std::string::npos &&
            std::sscanf(stat.c_str() + close + 1, " %*c %d", &ppid) == 1 && ppid == root) {
            pids.push_back(static_cast<pid_t>(std::stoi(e->d_name)));
        }
    }
    if (proc != nullptr) {
        ::closedir(proc);
    }
    return pids;
}

}  // namespace brimlet::test
