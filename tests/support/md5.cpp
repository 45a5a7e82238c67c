#include "support/md5.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "common/hex.h"

namespace brimlet::test {

std::string Md5Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &len, EVP_md5(), nullptr) != 1) {
        throw std::runtime_error("EVP_Digest failed");
    }
    return LowerHex(digest, len);
}

std::string Md5sumOf(const std::string& path) {
    const std::string cmd = "md5sum '" + path + "'";
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(cmd.c_str(), "r"), &pclose);
    if (!pipe) {
        throw std::runtime_error("cannot run md5sum");
    }
    char buf[33] = {};
    if (std::fread(buf, 1, 32, pipe.get()) != 32) {
        throw std::runtime_error("md5sum gave no digest for " + path);
    }
    return std::string(buf, 32);
}

}  // namespace brimlet::test
