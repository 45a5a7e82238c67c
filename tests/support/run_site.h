#pragma once
// One run directory for every test that runs the real binary: a directory holding a
// prefix_AGENT_OS link (or copy), its Ini/ and Log/, and an output root whose agent folder
// receives the document.
#include <string>
#include <vector>

#include "support/e2e.h"
#include "support/temp_dir.h"

namespace brimlet::test {

inline constexpr const char* kPurl = "http://primary.invalid/dl/";
inline constexpr const char* kSurl = "http://second.invalid/dl/";

class RunSite {
  public:
    // A link named `name` ("pub_FA_LNX") in a fresh directory with <outDir>/<agent>/ created
    // (parents too, so a test may lay out a tree above the output root).
    explicit RunSite(const std::string& name = "pub_FA_LNX", const std::string& agent = "FA",
                     const std::string& os = "LNX", const std::string& outDir = "out");
    // Replaces the link by a copy of the binary (the loader then looks beside the copy for
    // the MD5 library), with `library` (when not "") as libVelGnMD5.so beside it.
    void CopyBinary(const std::string& library);

    // Writes Ini/dbstring.Ini: the connection string and the usual values, `extra` lines
    // before them (a key given twice keeps its first value).
    void WriteSettings(const std::string& connectionString, const std::string& connTimeout = "10",
                       const std::string& cmdTimeout = "30",
                       const std::vector<std::string>& extra = {});
    // Runs the link, as a scheduler would, with LC_ALL=C and the extra environment.
    ProcessResult Run(const std::vector<std::string>& extraEnv = {},
                      const std::vector<std::string>& args = {}) const;

    // The document's bytes, or "" when there is none.
    std::string Document() const;
    bool HasDocument() const;
    // Entries of the log (empty when there is no log file).
    LogFileContent Log() const;
    std::vector<std::string> Texts() const;
    // Names of temporary and kept documents (.Brimlet_*.xml.*, not the lock file) left in the
    // agent folder, and of temporary metrics files (.brimlet_*.prom.*) left in metrics/.
    std::vector<std::string> TempFiles() const;
    // Polls the log until an entry starts with prefix (true), or `seconds` pass (false).
    bool AwaitEntry(const std::string& prefix, double seconds = 30) const;

    TempDir dir;
    std::string name, agent, os;
    std::string link, out, agentDir, xml;
};

}  // namespace brimlet::test
