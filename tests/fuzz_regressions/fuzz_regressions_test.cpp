#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "targets.h"

namespace {

namespace fs = std::filesystem;
using Target = int (*)(const std::uint8_t*, std::size_t);

std::vector<fs::path> SavedInputs(const std::string& target) {
    std::vector<fs::path> files;
    for (const char* kind : {"regressions", "corpus"}) {
        const fs::path dir = fs::path(BRIMLET_FUZZ_DIR) / kind / target;
        if (!fs::is_directory(dir)) {
            continue;
        }
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.is_regular_file() && entry.path().filename().string().front() != '.') {
                files.push_back(entry.path());
            }
        }
    }
    return files;
}

void Replay(const std::string& target, Target fuzzOne) {
    const std::vector<fs::path> files = SavedInputs(target);
    // The seed corpus is committed, so an empty list means the inputs were not found.
    ASSERT_FALSE(files.empty()) << "no saved inputs for " << target;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        ASSERT_TRUE(in) << "cannot read " << file;
        const std::string bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
        try {
            EXPECT_EQ(fuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                      0);
        } catch (const std::exception& e) {
            ADD_FAILURE() << file << ": " << e.what();
        }
    }
}

TEST(FuzzRegressions, SettingsReaderInputsKeepTheirProperties) {
    Replay("settings_reader", brimlet::fuzz::settings_reader::FuzzOne);
}

TEST(FuzzRegressions, CreateDirInputsKeepTheirProperties) {
    Replay("create_dir", brimlet::fuzz::create_dir::FuzzOne);
}

#ifdef BRIMLET_FUZZ_BODY_BUILDER
TEST(FuzzRegressions, BodyBuilderInputsKeepTheirProperties) {
    Replay("body_builder", brimlet::fuzz::body_builder::FuzzOne);
}
#endif

}  // namespace
