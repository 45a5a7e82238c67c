#include "process/identity.h"

#include <filesystem>

#include "fsutil/fsutil.h"

namespace brimlet {

std::string SettingsFilePath(const std::string& exeDir) {
    return exeDir + kPathSeparator + "Ini" + kPathSeparator + "dbstring.Ini";
}

std::string DocumentFilePath(const std::string& srvPath, const std::string& agent,
                             const std::string& os) {
    return srvPath + agent + kPathSeparator + "Brimlet_" + agent + "_" + os + ".xml";
}

std::string BesideProgram(const std::string& exeDir, const std::string& path) {
    const std::filesystem::path p(path);
    if (p.has_root_name() || p.has_root_directory()) {
        return path;
    }
    return exeDir + kPathSeparator + path;
}

}  // namespace brimlet
