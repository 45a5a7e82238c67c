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
#include "support/temp_dir.h"

namespace brimlet::test {

void InitTestRun(RunContext& ctx, const std::string& dir) {
    ctx.exeDir = dir;
    ctx.exeName = "chk_AGT_OS";
    ctx.log.exeDir = dir;
    ctx.log.exeName = ctx.exeName;
    std::filesystem::create_directories(dir + "/Log");
    InitLogFile(ctx.log);
}

std::vector<LogRow> ReadLogRows(const RunContext& ctx) {
    const std::string text = ReadFile(ctx.log.logFilePath);
    std::vector<LogRow> rows;
    std::size_t start = 0;
    int lineNo = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "log line without CR LF: " << text.substr(start);
            break;
        }
        const std::string line = text.substr(start, end - start);
        start = end + 2;
        if (++lineNo <= 5) {
            continue;
        }
        const std::vector<std::string> cols = Split(line, '\t');
        if (cols.size() != 7) {
            ADD_FAILURE() << "log entry without seven columns: " << line;
            continue;
        }
        rows.push_back(LogRow{cols[1], cols[2], cols[3], cols[4], cols[5], cols[6]});
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
