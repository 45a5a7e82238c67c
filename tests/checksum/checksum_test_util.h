#pragma once
// Libraries installed as <exeDir>/libVelGnMD5.so for the checksum tests (and the MD5 to check
// against).
#include <filesystem>
#include <string>

#include "support/md5.h"

namespace brimlet::test {

inline void InstallMd5Library(const std::string& from, const std::string& dir) {
    std::filesystem::copy_file(from, dir + "/libVelGnMD5.so",
                               std::filesystem::copy_options::overwrite_existing);
}

}  // namespace brimlet::test
