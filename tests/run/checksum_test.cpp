// The loader and Checksum, over the real library and scripted stand-ins.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "run/checksum.h"
#include "support/md5_stand_in.h"
#include "support/run_log.h"

namespace brimlet::test {
namespace {

class ChecksumTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_file = m_dir / "doc.xml";
        WriteFile(m_file, "<doc/>");
    }
    std::string Run(const std::string& errorTextBefore = "before") {
        m_errorText = errorTextBefore;
        return Checksum(m_ctx, m_lib, m_file, m_errorText);
    }
    // Entries of this procedure only, as (type, val1); val2 and val3 must be empty.
    std::vector<std::pair<std::string, std::string>> Entries() {
        std::vector<std::pair<std::string, std::string>> out;
        for (const LogRow& r : m_run.Rows()) {
            EXPECT_EQ(r.module, "modMain");
            EXPECT_EQ(r.function, "Checksum");
            EXPECT_EQ(r.val2, "");
            EXPECT_EQ(r.val3, "");
            out.emplace_back(r.type, r.val1);
        }
        return out;
    }
    std::string Start() const { return "Getting MD5 checksum of : " + m_file; }

    LoggedRun m_run;
    TempDir& m_dir = m_run.dir;
    RunContext& m_ctx = m_run.ctx;
    Md5Library m_lib{m_dir.path()};
    std::string m_file;
    std::string m_errorText;
};

using Entry = std::pair<std::string, std::string>;

TEST_F(ChecksumTest, RealLibraryBesideTheExecutableGivesUpperCaseMd5) {
    InstallMd5Library(REAL_MD5_LIBRARY, m_dir.path());
    const std::string expected = ToUpperAscii(Md5sumOf(m_file));
    EXPECT_EQ(Run(), expected);
    EXPECT_EQ(m_errorText, "before");

    // Each call hashes the file as it is then.
    WriteFile(m_file, "changed");
    EXPECT_EQ(Run(), ToUpperAscii(Md5Hex("changed")));
    EXPECT_EQ(Entries(), (std::vector<Entry>{
                             {"MSG", Start()},
                             {"MSG", "FileMD5CheckSum : " + expected},
                             {"MSG", Start()},
                             {"MSG", "FileMD5CheckSum : " + ToUpperAscii(Md5Hex("changed"))}}));
}

TEST_F(ChecksumTest, WholeFileResultIsTrimmedAndUpperCasedWithoutBlockCall) {
    InstallMd5Library(FAKE_MD5_SPACES, m_dir.path());
    EXPECT_EQ(Run(), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(Entries(),
              (std::vector<Entry>{{"MSG", Start()},
                                  {"MSG", "FileMD5CheckSum : D41D8CD98F00B204E9800998ECF8427E"}}));
}

TEST_F(ChecksumTest, BlockwiseCallFollowsAFailedWholeFileCallWith32) {
    InstallMd5Library(FAKE_MD5_BLOCK, m_dir.path());
    EXPECT_EQ(Run(), "ABC32DEF");
    EXPECT_EQ(Entries(),
              (std::vector<Entry>{{"MSG", Start()}, {"MSG", "FileMD5CheckSum : ABC32DEF"}}));
}

TEST_F(ChecksumTest, BothCallsFailingLogTheTrimmedErrorAndReturnWhatChecksumOutHolds) {
    InstallMd5Library(FAKE_MD5_FAIL, m_dir.path());
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(m_errorText, "before");
    const std::string failed = "Failed to Get MD5 check Sum for File " + m_file +
                               " Error = read failed: " + m_file + " with 32 KB Block Size";
    EXPECT_EQ(Entries(), (std::vector<Entry>{
                             {"MSG", Start()}, {"MSG", failed}, {"MSG", "FileMD5CheckSum : "}}));
}

TEST_F(ChecksumTest, WholeFileOutputSurvivesIntoTheBlockwiseFailure) {
    InstallMd5Library(FAKE_MD5_LEFTOVER, m_dir.path());
    EXPECT_EQ(Run(), "PARTIAL VALUE");
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2], (Entry{"MSG", "FileMD5CheckSum : PARTIAL VALUE"}));
}

// The library's failures are the loader's (tests/checksum); here, what the procedure makes of
// them.
TEST_F(ChecksumTest, MissingLibraryIsError53AndSetsErrorText) {
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(m_errorText, "File not found: VelGnMD5");
    EXPECT_EQ(Entries(),
              (std::vector<Entry>{
                  {"MSG", Start()},
                  {"ERR", "53 (File not found: VelGnMD5) in procedure Checksum of Module"}}));
    EXPECT_EQ(m_ctx.log.errEntries, 1);
}

TEST_F(ChecksumTest, OtherFailuresAreLoggedWithTheirNumberAndLeaveTheErrorTextAlone) {
    struct Case {
        const char* library;
        std::string entry;
    } cases[] = {
        // Reached only once the whole-file call failed.
        {FAKE_MD5_NOBLOCK,
         "453 (Can't find DLL entry point VelGetMD5WBlock in VelGnMD5) in procedure Checksum of "
         "Module"},
        {FAKE_MD5_BADTYPE, "13 (Type mismatch) in procedure Checksum of Module"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        TempDir exeDir;
        InstallMd5Library(c.library, exeDir.path());
        Md5Library lib(exeDir.path());
        std::string errorText = "kept";
        EXPECT_EQ(Checksum(m_ctx, lib, m_file, errorText), "");
        EXPECT_EQ(errorText, "kept");
        const auto entries = Entries();
        ASSERT_GE(entries.size(), 2u);
        EXPECT_EQ(entries[entries.size() - 2], (Entry{"MSG", Start()}));
        EXPECT_EQ(entries.back(), (Entry{"ERR", c.entry}));
    }
}

}  // namespace
}  // namespace brimlet::test
