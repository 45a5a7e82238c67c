#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "common/fd_io.h"
#include "common/path.h"
#include "common/unique_fd.h"
#include "log/log.h"
#include "process/unit_check.h"

namespace brimlet {

namespace {

constexpr std::size_t kShowMaxBytes = std::size_t{64} * 1024;

std::vector<char*> Argv(std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// The standard output of `args` (found on PATH), when it ends with status 0.
std::optional<std::string> Output(std::vector<std::string> args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    std::vector<char*> argv = Argv(args);
    const pid_t pid = ::fork();
    if (pid < 0) {
        return std::nullopt;
    }
    if (pid == 0) {
        if (::dup2(writeEnd.get(), STDOUT_FILENO) >= 0) {
            ::execvp(argv[0], argv.data());
        }
        ::_exit(127);
    }
    writeEnd.Close();
    std::string out;
    const bool read = ReadUpTo(readEnd.get(), kShowMaxBytes, out);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!read || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return out;
}

}  // namespace

void CheckInsideUnit(const ExecutableIdentity& target, std::string_view linkRoot) {
    struct stat st {};
    if (::geteuid() != 0 || ::stat("/run/systemd/system", &st) != 0 || !S_ISDIR(st.st_mode) ||
        target.path != JoinPath(JoinPath(linkRoot, target.name), target.name)) {
        return;
    }
    const std::string unit = "brimlet@" + target.name + ".service";
    const std::optional<std::string> shown =
        Output({"systemctl", "show", "-p", std::string(kUnitCheckProperties), "--", unit});
    if (!shown) {
        return;
    }
    std::optional<std::vector<std::string>> command = UnitCheckCommand(*shown, unit, target.path);
    if (!command) {
        return;
    }
    WriteStderrText("brimlet: checking " + target.name + " in the account and sandbox of " + unit +
                    " (systemd-run)\n");
    std::vector<char*> argv = Argv(*command);
    ::execvp(argv[0], argv.data());
    WriteStderrText("brimlet: systemd-run could not be started; checking as root instead\n");
}

}  // namespace brimlet
