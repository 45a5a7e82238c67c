#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace brimlet::test {

#ifdef _WIN32
// No mkdtemp: a random name, created only when it was not there.
TempDir::TempDir() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto path = base / ("brimlet-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(path)) {
            m_path = path.string();
            return;
        }
    }
    throw std::runtime_error("no temporary directory");
}
#else
TempDir::TempDir() {
    const char* base = std::getenv("BRIMLET_TEST_TMP");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/brimlet-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    ::chmod(pattern.c_str(), 0755);
    m_path = pattern;
}
#endif

TempDir::~TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (info != nullptr && info->result() != nullptr && info->result()->Failed()) {
        std::fprintf(stderr, "kept test directory: %s\n", m_path.c_str());
        return;
    }
    std::error_code ec;
#ifndef _WIN32
    // Restore permissions a test may have taken away, so the tree can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            ::chmod(it->path().c_str(), 0755);
        }
    }
    ::chmod(m_path.c_str(), 0755);
#endif
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
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

}  // namespace brimlet::test
