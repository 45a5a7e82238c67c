#include <stdexcept>

#include "common/cng_win32.h"
#include "common/hex.h"
#include "support/md5.h"
#include "support/temp_dir.h"

namespace brimlet::test {

// No libcrypto or md5sum on Windows: CNG's MD5, which VelGnMD5.dll reaches through its own
// streaming code, so a fault of that code still shows.
std::string Md5Hex(const std::string& data) {
    cng::Digest md5(BCRYPT_MD5_ALGORITHM);
    md5.Add(data.data(), data.size());
    const std::vector<unsigned char> digest = md5.Finish();
    if (digest.empty()) {
        throw std::runtime_error("CNG's MD5 failed");
    }
    return LowerHex(digest.data(), digest.size());
}

std::string Md5sumOf(const std::string& path) {
    if (!Exists(path)) {
        throw std::runtime_error("no file for a digest: " + path);
    }
    return Md5Hex(ReadFile(path));
}

}  // namespace brimlet::test
