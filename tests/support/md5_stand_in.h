#pragma once
// Libraries installed as <dir>/libVelGnMD5.so (VelGnMD5.dll) for the loader's and the checksum
// procedures' tests: the real one (REAL_MD5_LIBRARY) or a scripted stand-in (FAKE_MD5_<MODE>,
// support/md5_stand_in/), and the MD5 to check against.
#include <filesystem>
#include <string>

#include "support/md5.h"

namespace brimlet::test {

inline void InstallMd5Library(const std::string& from, const std::string& dir) {
#ifdef _WIN32
    const char* name = "/VelGnMD5.dll";
#else
    const char* name = "/libVelGnMD5.so";
#endif
    std::filesystem::copy_file(from, dir + name, std::filesystem::copy_options::overwrite_existing);
}

}  // namespace brimlet::test
