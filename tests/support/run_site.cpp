#include "support/run_site.h"

#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

namespace brimlet::test {

RunSite::RunSite(const std::string& name_, const std::string& agent_, const std::string& os_,
                 const std::string& outDir)
    : name(name_), agent(agent_), os(os_) {
    out = dir / outDir;
    agentDir = out + "/" + agent;
    xml = agentDir + "/Brimlet_" + agent + "_" + os + ".xml";
    std::filesystem::create_directories(agentDir);
    link = LinkBrimlet(dir.path(), name);
}

void RunSite::CopyBinary(const std::string& library) {
    ::unlink(link.c_str());
    WriteFile(link, ReadFile(BrimletBinary()));
    ::chmod(link.c_str(), 0755);
    if (!library.empty()) {
        WriteFile(dir / "libVelGnMD5.so", library);
    }
}

void RunSite::WriteSettings(const std::string& connectionString, const std::string& connTimeout,
                            const std::string& cmdTimeout, const std::vector<std::string>& extra) {
    std::vector<std::string> lines = {
        "KEMADDONDBstr=" + connectionString, "conntimeoutsec=" + connTimeout,
        "cmdtimeoutsec=" + cmdTimeout,       std::string("purl=") + kPurl,
        std::string("surl=") + kSurl,        "srvpath=" + out};
    // The first occurrence of a key wins, so overrides go first.
    lines.insert(lines.begin(), extra.begin(), extra.end());
    WriteIni(dir.path(), lines);
}

ProcessResult RunSite::Run(const std::vector<std::string>& extraEnv,
                           const std::vector<std::string>& args) const {
    std::vector<std::string> env = {"LC_ALL=C"};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    return RunProgram(link, link, dir.path(), env, args);
}

bool RunSite::HasDocument() const {
    struct stat st {};
    return ::stat(xml.c_str(), &st) == 0;
}

std::string RunSite::Document() const {
    return HasDocument() ? ReadFile(xml) : std::string();
}

LogFileContent RunSite::Log() const {
    const std::string path = FindLogFile(dir.path());
    return path.empty() ? LogFileContent{} : ReadLog(path);
}

std::vector<std::string> RunSite::Texts() const {
    return EntryTexts(Log());
}

std::vector<std::string> RunSite::TempFiles() const {
    std::vector<std::string> found;
    const std::regex temp(R"(\.Brimlet_.*\.xml\..*|\.brimlet_.*\.prom\..*)");
    const std::regex lock(R"(\.Brimlet_.*\.xml\.lock)");
    for (const std::string& folder : {agentDir, out, dir.path(), dir / "metrics"}) {
        DIR* d = ::opendir(folder.c_str());
        if (d == nullptr) {
            continue;
        }
        while (dirent* e = ::readdir(d)) {
            if (std::regex_match(e->d_name, temp) && !std::regex_match(e->d_name, lock)) {
                found.push_back(folder + "/" + e->d_name);
            }
        }
        ::closedir(d);
    }
    return found;
}

bool RunSite::AwaitEntry(const std::string& prefix, double seconds) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
        for (const auto& t : Texts()) {
            if (t.rfind(prefix, 0) == 0) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace brimlet::test
