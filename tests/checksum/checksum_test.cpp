// The loader and Checksum, over the real library and scripted stand-ins.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "checksum_test_util.h"
#include "common/text.h"
#include "run/checksum.h"
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

TEST_F(ChecksumTest, RealLibraryBesideTheExecutableGivesUpperCaseMd5AndStaysBound) {
    InstallMd5Library(REAL_MD5_LIBRARY, m_dir.path());
    const std::string expected = ToUpperAscii(Md5sumOf(m_file));
    EXPECT_EQ(Run(), expected);
    EXPECT_EQ(m_errorText, "before");
    EXPECT_EQ(m_lib.LoadedFrom(), m_dir / "libVelGnMD5.so");

    // Bound for the process: the file may go, the functions stay.
    ASSERT_EQ(::unlink((m_dir / "libVelGnMD5.so").c_str()), 0);
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

TEST_F(ChecksumTest, MissingOrBrokenLibraryIsError53AndSetsErrorText) {
    const Entry err53{"ERR", "53 (File not found: VelGnMD5) in procedure Checksum of Module"};
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(m_errorText, "File not found: VelGnMD5");
    EXPECT_EQ(Entries(), (std::vector<Entry>{{"MSG", Start()}, err53}));

    // A file of that name that is no library loads no better.
    WriteFile(m_dir / "libVelGnMD5.so", "not an ELF file");
    EXPECT_EQ(Run(""), "");
    EXPECT_EQ(m_errorText, "File not found: VelGnMD5");
    EXPECT_EQ(Entries().back(), err53);
    EXPECT_EQ(m_ctx.log.errEntries, 2);
}

TEST_F(ChecksumTest, MissingFunctionsAreError453NamingTheFunction) {
    struct Case {
        const char* library;
        const char* function;
    } cases[] = {{FAKE_MD5_NOWHOLE, "VelGetMD5"},
                 {FAKE_MD5_NOBLOCK, "VelGetMD5WBlock"},
                 {FAKE_MD5_NOCLEAR, "VelVariantClear"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        TempDir exeDir;
        InstallMd5Library(c.library, exeDir.path());
        Md5Library lib(exeDir.path());
        std::string errorText = "kept";
        EXPECT_EQ(Checksum(m_ctx, lib, m_file, errorText), "");
        EXPECT_EQ(errorText, "kept");
        EXPECT_EQ(Entries().back(),
                  (Entry{"ERR", std::string("453 (Can't find DLL entry point ") + c.function +
                                    " in VelGnMD5) in procedure Checksum of Module"}));
    }
}

TEST_F(ChecksumTest, OutputThatIsNotTextIsATypeMismatch) {
    InstallMd5Library(FAKE_MD5_BADTYPE, m_dir.path());
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(m_errorText, "before");
    EXPECT_EQ(Entries(),
              (std::vector<Entry>{{"MSG", Start()},
                                  {"ERR", "13 (Type mismatch) in procedure Checksum of Module"}}));
}

}  // namespace
}  // namespace brimlet::test
