#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace brimlet::test {

TempDir::TempDir() {
    const char* base = std::getenv("BRIMLET_TEST_TMP");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/brimlet-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    ::chmod(pattern.c_str(), 0755);
    m_path = pattern;
}

TempDir::~TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (info != nullptr && info->result() != nullptr && info->result()->Failed()) {
        std::fprintf(stderr, "kept test directory: %s\n", m_path.c_str());
        return;
    }
    std::error_code ec;
    // Restore permissions a test may have taken away, so the tree can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            ::chmod(it->path().c_str(), 0755);
        }
    }
    ::chmod(m_path.c_str(), 0755);
    std::filesystem::remove_all(m_path, ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace brimlet::test
