#include "process/identity.h"

#include "common/path.h"

namespace brimlet {

std::string SettingsFilePath(const std::string& exeDir) {
    return exeDir + kPathSeparator + "Ini" + kPathSeparator + "dbstring.Ini";
}

std::string DocumentFilePath(const std::string& srvPath, const std::string& agent,
                             const std::string& os) {
    return srvPath + agent + kPathSeparator + "Brimlet_" + agent + "_" + os + ".xml";
}

}  // namespace brimlet
