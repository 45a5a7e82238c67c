#include "support/e2e.h"

#include <dirent.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include "common/unique_fd.h"
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
                         const std::string& cwd, const std::vector<std::string>& extraEnv,
                         const std::vector<std::string>& args) {
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
    std::vector<std::string> argStrings{argv0};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(argStrings.size() + 1);
    for (auto& s : argStrings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    // Memory files: the output is kept without a file that a test of "nothing created" sees.
    const UniqueFd outFd(::memfd_create("stdout", MFD_CLOEXEC));
    const UniqueFd errFd(::memfd_create("stderr", MFD_CLOEXEC));
    if (!outFd || !errFd) {
        throw std::runtime_error("memfd_create failed");
    }

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        if (::chdir(cwd.c_str()) != 0 || ::dup2(outFd.get(), 1) < 0 || ::dup2(errFd.get(), 2) < 0) {
            ::_exit(126);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProcessResult r;
    r.pid = pid;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) {
        r.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        r.signal = WTERMSIG(status);
    }
    for (const auto& [fd, text] :
         {std::pair{outFd.get(), &r.out}, std::pair{errFd.get(), &r.err}}) {
        char buf[4096];
        ssize_t n = 0;
        for (off_t at = 0; (n = ::pread(fd, buf, sizeof buf, at)) > 0; at += n) {
            text->append(buf, static_cast<std::size_t>(n));
        }
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
