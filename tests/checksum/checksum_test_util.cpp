#include "checksum_test_util.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "common/hex.h"
#include "common/text.h"
#include "support/e2e.h"
#include "support/temp_dir.h"

namespace brimlet::test {

void InitTestRun(RunContext& ctx, const std::string& dir) {
    ctx.log.exeDir = dir;
    ctx.log.exeName = "chk_AGT_OS";
    std::filesystem::create_directories(dir + "/Log");
    InitLogFile(ctx.log);
}

std::vector<LogRow> ReadLogRows(const RunContext& ctx) {
    std::vector<LogRow> rows;
    for (const LogColumns& c : CheckedEntries(ReadLog(ctx.log.logFilePath))) {
        rows.push_back(LogRow{c[0], c[1], c[2], c[3], c[4], c[5]});
    }
    return rows;
}

void InstallMd5Library(const std::string& from, const std::string& dir) {
    std::filesystem::copy_file(from, dir + "/libVelGnMD5.so",
                               std::filesystem::copy_options::overwrite_existing);
}

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
