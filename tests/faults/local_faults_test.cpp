// Faults of the machine around a run, on PostgreSQL: output folder missing, read-only or full,
// log folder read-only, special files at the day's log or the MD5 library, a file-size limit,
// broken MD5 libraries, hostile settings files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cipher/cipher.h"
#include "fault_case.h"

namespace brimlet::faults {
namespace {

using test::Backend;

// Runs `exe` (argv[0] = exe) through a wrapper that ends it after `seconds` (timeout's status
// 124, or a signal) and applies `limits` (prlimit options), so no regression hangs the suite.
test::ProcessResult RunBounded(const std::string& exe, const std::string& cwd, int seconds,
                               const std::vector<std::string>& extraEnv = {},
                               const std::string& limits = "") {
    const std::string script = cwd + "/bounded.sh";
    // Descriptors the test process holds (its database sessions) are not the run's to count.
    test::WriteFile(script, "#!/bin/sh\nexec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-\nexec " +
                                (limits.empty() ? "" : "prlimit " + limits + " ") +
                                "timeout -k 2 " + std::to_string(seconds) + " '" + exe + "'\n");
    ::chmod(script.c_str(), 0755);
    std::vector<std::string> env = {"LC_ALL=C"};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    return test::RunProgram(script, script, cwd, env);
}

class LocalFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BRIMLET_REQUIRE_BACKEND(Backend::Pg);
        db = std::make_unique<test::TestDatabase>(Backend::Pg);
        LoadSchema(*db, 3);
        site.WriteSettings(db->ConnectionString());
    }
    std::size_t ChecksumRows() {
        return db->Query("SELECT md5_string FROM mst_agent_xml_checksum").size();
    }
    // The whole checksum table, dates included.
    std::vector<std::vector<std::optional<std::string>>> ChecksumTable() {
        return db->Query(
            "SELECT agent_type, os, md5_string, release_date, updated_at "
            "FROM mst_agent_xml_checksum ORDER BY agent_type, os");
    }
    // True once no session but the test's own is open on its database (waits up to 5 s for
    // the server to see a finished client go).
    bool OnlyOwnSession() {
        for (int i = 0; i < 50; ++i) {
            if (db->QueryValue("SELECT count(*) FROM pg_stat_activity WHERE datname = "
                               "current_database() AND pid <> pg_backend_pid()") == "0") {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    // The shim comes before the sanitizer runtime in the library list; the runtime must be
    // told that this is wanted, in the environment the child inherits.
    test::ProcessResult RunOnFullDisk(const std::string& mode) {
        const char* old = std::getenv("ASAN_OPTIONS");
        const std::string saved = old != nullptr ? old : "";
        ::setenv("ASAN_OPTIONS", (saved + ":verify_asan_link_order=0").c_str(), 1);
        auto r = site.Run({std::string("LD_PRELOAD=") + FAULT_ENOSPC_SHIM, "FAULT_ENOSPC=" + mode});
        if (old != nullptr) {
            ::setenv("ASAN_OPTIONS", saved.c_str(), 1);
        } else {
            ::unsetenv("ASAN_OPTIONS");
        }
        return r;
    }

    std::unique_ptr<test::TestDatabase> db;
    RunSite site;
};

// Publications that fail after a successful connection. The old document stays byte for
// byte, and so does the checksum recorded for it: the database announces no release that did
// not happen.
enum class PublicationFault {
    QueryFails,
    NoUsableType,
    FolderMissing,
    FolderReadOnly,
    FullOnWrite,
    FullOnFsync
};

struct FailedPublication {
    const char* name;
    PublicationFault fault;
    const char* failure;  // the one entry that says why (prefix)
    const char* text;     // in the log
};

void PrintTo(const FailedPublication& c, std::ostream* os) {
    *os << c.name;
}

class FailedPublicationTest : public LocalFaultTest,
                              public ::testing::WithParamInterface<FailedPublication> {};

TEST_P(FailedPublicationTest, KeepsTheDocumentAndItsRecordedChecksum) {
    const FailedPublication& c = GetParam();
    if (c.fault == PublicationFault::FolderReadOnly && ::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders; run as an unprivileged user";
    }
    db->Exec(
        "INSERT INTO mst_agent_xml_checksum (agent_type, os, md5_string, release_date, "
        "download_url, secondary_url) VALUES ('FA', 'LNX', '0123456789ABCDEF0123456789ABCDEF', "
        "'2020-01-02 03:04:05', 'http://old.invalid/', 'http://old2.invalid/')");
    const auto recorded = ChecksumTable();
    const std::string previous =
        c.fault == PublicationFault::FolderMissing ? "" : SeedPrevious(site);
    test::ProcessResult r;
    switch (c.fault) {
        case PublicationFault::QueryFails:
            db->Exec("DROP FUNCTION USP_AgentComponent_Details(varchar, varchar)");
            r = site.Run();
            break;
        case PublicationFault::NoUsableType:
            db->Exec("UPDATE mst_agent_component SET type = '9x'");
            r = site.Run();
            break;
        case PublicationFault::FolderMissing:
            ASSERT_EQ(::rmdir(site.agentDir.c_str()), 0);
            r = site.Run();
            break;
        case PublicationFault::FolderReadOnly:
            ASSERT_EQ(::chmod(site.agentDir.c_str(), 0555), 0);
            r = site.Run();
            ::chmod(site.agentDir.c_str(), 0755);
            break;
        case PublicationFault::FullOnWrite:
            r = RunOnFullDisk("write");
            break;
        case PublicationFault::FullOnFsync:
            r = RunOnFullDisk("fsync");
            break;
    }
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(site.Document(), previous);
    EXPECT_TRUE(site.TempFiles().empty());
    EXPECT_EQ(ChecksumTable(), recorded);
    const auto texts = site.Texts();
    EXPECT_EQ(CountEntries(texts, c.failure), 1) << site.Log().raw;
    EXPECT_NE(site.Log().raw.find(c.text), std::string::npos);
    EXPECT_FALSE(HasEntry(texts, "modMain|SubCreateBrimletXML|MSG|Created new xml file"));
    EXPECT_EQ(CountEntries(texts, "modMain|SubUpdateXmlCheckSum|"), 1);
    EXPECT_TRUE(HasEntry(texts,
                         "modMain|SubUpdateXmlCheckSum|MSG|Checksum not updated in the "
                         "database: no new xml file was published|" +
                             site.xml));
    EXPECT_FALSE(HasEntry(texts, "modMain|Checksum|"));  // not even hashed
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "modMain|Main|MSG|END||");
    ExpectCleanLog(site.Log(), db->ConnectionString());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailedPublicationTest,
    ::testing::Values(
        FailedPublication{"QueryFails", PublicationFault::QueryFails,
                          "modMain|FncCreateXMLString|ERR|", "usp_agentcomponent_details"},
        FailedPublication{"NoUsableType", PublicationFault::NoUsableType,
                          "modMain|SubCreateBrimletXML|ERR|-1|No xml file written: no row has a "
                          "usable component type; the old document is kept|80",
                          "Type \"9x\""},
        FailedPublication{"AgentFolderMissing", PublicationFault::FolderMissing,
                          "modMain|SubCreateBrimletXML|ERR|", "No such file or directory"},
        FailedPublication{"AgentFolderReadOnly", PublicationFault::FolderReadOnly,
                          "modMain|SubCreateBrimletXML|ERR|", "Permission denied"},
        // The unnamed temporary file is named by the document it is for.
        FailedPublication{"DiskFullOnWrite", PublicationFault::FullOnWrite,
                          "modMain|SubCreateBrimletXML|ERR|28|write temporary file for /",
                          "/FA/Brimlet_FA_LNX.xml: No space left on device"},
        FailedPublication{"DiskFullOnFsync", PublicationFault::FullOnFsync,
                          "modMain|SubCreateBrimletXML|ERR|28|fsync temporary file for /",
                          "/FA/Brimlet_FA_LNX.xml: No space left on device"}),
    [](const ::testing::TestParamInfo<FailedPublication>& info) { return info.param.name; });

TEST_F(LocalFaultTest, ReadOnlyLogFolderWithoutTodaysLogEndsTheRunUntouched) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders; run as an unprivileged user";
    }
    const std::string previous = SeedPrevious(site);
    const std::string logDir = site.dir / "Log";
    ASSERT_EQ(::mkdir(logDir.c_str(), 0555), 0);
    const auto r = site.Run();
    ::chmod(logDir.c_str(), 0755);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(test::FindLogFile(site.dir.path()), "");
    EXPECT_EQ(site.Document(), previous);
    EXPECT_EQ(ChecksumRows(), 0u);  // the run ends before the settings are read
}

TEST_F(LocalFaultTest, UnwritableLogDropsEntriesTheRunGoesOnAndFails) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only files; run as an unprivileged user";
    }
    SeedPrevious(site);
    ASSERT_EQ(site.Run().exitStatus, 0);  // creates today's log
    const std::string logFile = test::FindLogFile(site.dir.path());
    const std::string before = test::ReadFile(logFile);
    ASSERT_EQ(::chmod(logFile.c_str(), 0444), 0);
    ASSERT_EQ(::chmod((site.dir / "Log").c_str(), 0555), 0);
    db->Exec("UPDATE mst_agent_component SET description = 'second run'");
    const auto r = site.Run();
    ::chmod((site.dir / "Log").c_str(), 0755);
    EXPECT_EQ(r.exitStatus, 1);  // published, but the run's report is lost
    EXPECT_EQ(test::ReadFile(logFile), before);
    EXPECT_TRUE(IsCompleteDocument(site.Document(), 3));
    EXPECT_NE(DocumentCipher().Decrypt(site.Document()).find("second run"), std::string::npos);
    EXPECT_EQ(ChecksumRows(), 1u);
}

// Five descriptors: the log cannot take the run's entries. The status says the run failed, and
// so does the metrics file, or, where it could not be replaced either, stderr.
TEST_F(LocalFaultTest, TooFewDescriptorsForTheLogStillFailTheRun) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own and ends such a run "
                    "with a false report; run this case from a build without them";
#endif
    ASSERT_EQ(::mkdir((site.dir / "prom").c_str(), 0755), 0);
    site.WriteSettings(db->ConnectionString(), "10", "30", {"metricsdir=prom"});
    ASSERT_EQ(site.Run().exitStatus, 0) << site.Log().raw;
    const std::string prom = site.dir / "prom/brimlet_pub_FA_LNX.prom";
    const std::string before = test::ReadFile(prom);
    db->Exec("UPDATE mst_agent_component SET description = 'second run'");
    const auto r = RunBounded(site.link, site.dir.path(), 60, {}, "--nofile=5");
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    const std::string after = test::ReadFile(prom);
    if (after == before) {
        EXPECT_NE(r.err.find("metrics not written"), std::string::npos) << r.err;
    } else {
        EXPECT_NE(after.find("brimlet_last_exit_status{link=\"pub_FA_LNX\",agent=\"FA\",os="
                             "\"LNX\"} 1"),
                  std::string::npos)
            << after;
    }
}

// A file-size limit below the document's size: the write fails with its entry instead of the
// kernel killing the run with SIGXFSZ; the log (smaller than the limit) keeps working.
TEST_F(LocalFaultTest, FileSizeLimitIsAWriteErrorNotAKill) {
    db->Exec("DELETE FROM mst_agent_component");
    db->Exec(ComponentInserts(Backend::Pg, 400, "FA", "LNX"));  // a document of about 200 KB
    const std::string previous = SeedPrevious(site);
    const auto r = RunBounded(site.link, site.dir.path(), 60, {}, "--fsize=32768");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(site.Document(), previous);
    EXPECT_TRUE(site.TempFiles().empty());
    const auto texts = site.Texts();
    EXPECT_TRUE(HasEntry(texts, "modMain|SubCreateBrimletXML|ERR|27|")) << site.Log().raw;
    EXPECT_NE(site.Log().raw.find("File too large"), std::string::npos);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "modMain|Main|MSG|END||");
    ExpectCleanLog(site.Log(), db->ConnectionString());
}

// The MD5 library beside a copy of the binary: missing, without functions, not trusted.
class Md5FaultTest : public LocalFaultTest {
  protected:
    test::ProcessResult RunCopy(const std::string& library) {
        site.CopyBinary(library);
        return site.Run();
    }
    // No checksum, so nothing recorded, and the new document (there was none before) goes.
    void ExpectChecksumFailed(const test::ProcessResult& r, const std::string& entry) {
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_FALSE(site.HasDocument());
        EXPECT_EQ(ChecksumRows(), 0u);
        EXPECT_TRUE(site.TempFiles().empty());
        const auto log = site.Log();
        const auto texts = test::EntryTexts(log);
        EXPECT_TRUE(HasEntry(texts, entry)) << log.raw;
        EXPECT_TRUE(HasEntry(texts,
                             "modMain|SubUpdateXmlCheckSum|MSG|Checksum not updated in the "
                             "database: the new xml file is removed|" +
                                 site.xml));
        EXPECT_EQ(texts.back(), "modMain|Main|MSG|END||");
        ExpectCleanLog(log, db->ConnectionString());
    }
};

TEST_F(Md5FaultTest, MissingLibrary) {
    ExpectChecksumFailed(RunCopy(""), "modMain|Checksum|ERR|53 (File not found: VelGnMD5)");
}

TEST_F(Md5FaultTest, LibraryWithoutTheFunctions) {
    ExpectChecksumFailed(RunCopy(test::ReadFile(FAULT_MD5_NOFUNCTION)),
                         "modMain|Checksum|ERR|453 (Can't find DLL entry point");
}

// A library that another account could have written or replaced runs no code: not found (the
// trust rule's cases are tests/common's).
TEST_F(Md5FaultTest, LibraryOthersCouldWriteIsNotLoaded) {
    const std::string bin = test::BrimletBinary();
    site.CopyBinary(test::ReadFile(bin.substr(0, bin.rfind('/')) + "/libVelGnMD5.so"));
    const std::string target = site.dir / "libVelGnMD5.so";
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    ASSERT_EQ(::chmod(target.c_str(), (st.st_mode & 07777) | S_IWGRP), 0);
    const auto r = RunBounded(site.link, site.dir.path(), 30);
    ::chmod(target.c_str(), st.st_mode & 07777);
    ExpectChecksumFailed(r, "modMain|Checksum|ERR|53 (File not found: VelGnMD5)");
    EXPECT_NE(r.err.find("libVelGnMD5.so not loaded: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("writable by group or others"), std::string::npos) << r.err;
    // --check names the reason too.
    ASSERT_EQ(::chmod(target.c_str(), (st.st_mode & 07777) | S_IWGRP), 0);
    const auto check = site.Run({}, {"--check"});
    ::chmod(target.c_str(), st.st_mode & 07777);
    EXPECT_NE(check.out.find("libVelGnMD5.so not loaded: "), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("writable by group or others"), std::string::npos) << check.out;
}

// A FIFO named libVelGnMD5.so, beside the binary (also its run path, $ORIGIN) or on the
// library path: the loader would wait on it forever, with the database session open.
TEST_F(Md5FaultTest, FifosNamedLikeTheLibraryAreNotWaitedOn) {
    for (const bool besideTheBinary : {true, false}) {
        SCOPED_TRACE(besideTheBinary ? "beside the binary" : "on LD_LIBRARY_PATH");
        site.CopyBinary("");
        const std::string fifoDir = besideTheBinary ? site.dir.path() : site.dir / "libpath";
        ::mkdir(fifoDir.c_str(), 0755);
        ::unlink((fifoDir + "/libVelGnMD5.so").c_str());
        ASSERT_EQ(::mkfifo((fifoDir + "/libVelGnMD5.so").c_str(), 0644), 0);
        std::vector<std::string> env;
        if (!besideTheBinary) {
            env.push_back("LD_LIBRARY_PATH=" + fifoDir);
        }
        const auto r = RunBounded(site.link, site.dir.path(), 30, env);
        EXPECT_EQ(r.signal, 0);
        ExpectChecksumFailed(r, "modMain|Checksum|ERR|53 (File not found: VelGnMD5)");
        EXPECT_TRUE(OnlyOwnSession());
        ::unlink((fifoDir + "/libVelGnMD5.so").c_str());
    }
}

// Settings files that cannot be used end the run after the settings check.
class SettingsFaultTest : public LocalFaultTest {
  protected:
    void ExpectSettingsRefused(const test::ProcessResult& r, const std::string& previous,
                               std::size_t checksumRows = 0) {
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(site.Document(), previous);
        const auto texts = site.Texts();
        EXPECT_TRUE(
            HasEntry(texts, "modMain|getConDtls|ERR|-1|DBConnection Data missing for Brimlet"))
            << site.Log().raw;
        EXPECT_EQ(texts.back(), "modMain|Main|MSG|END||");
        EXPECT_EQ(ChecksumRows(), checksumRows);
    }
    std::string Ini() const { return site.dir / "Ini/dbstring.Ini"; }
};

TEST_F(SettingsFaultTest, UnreadableFile) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads mode-000 files; run as an unprivileged user";
    }
    const std::string previous = SeedPrevious(site);
    ASSERT_EQ(::chmod(Ini().c_str(), 0), 0);
    ExpectSettingsRefused(site.Run(), previous);
}

// The settings name the driver library the driver manager loads: judged like the MD5 library
// (the trust rule's cases are tests/common's), through a symlinked Ini by the file it leads to,
// here in a world-writable directory. No value of a refused file is used, the metrics directory
// included, and --check names the refusal, not a key.
TEST_F(SettingsFaultTest, FileOthersCouldWriteIsRefused) {
    const std::string previous = SeedPrevious(site);
    const std::string metrics = site.dir / "metrics";
    ASSERT_EQ(::mkdir(metrics.c_str(), 0755), 0);
    site.WriteSettings(db->ConnectionString(), "10", "30", {"metricsdir=" + metrics});
    const std::string shared = site.dir / "shared";
    ASSERT_EQ(::mkdir(shared.c_str(), 0755), 0);
    ASSERT_EQ(::rename(Ini().c_str(), (shared + "/dbstring.Ini").c_str()), 0);
    ASSERT_EQ(::symlink((shared + "/dbstring.Ini").c_str(), Ini().c_str()), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    const auto r = site.Run();
    const auto check = site.Run({}, {"--check"});
    ::chmod(shared.c_str(), 0755);
    ExpectSettingsRefused(r, previous);
    EXPECT_NE(r.err.find("settings file " + Ini() + " refused: "), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_empty(metrics));
    EXPECT_EQ(check.exitStatus, 1);
    EXPECT_NE(check.out.find("error: settings file " + Ini() + " refused: "), std::string::npos)
        << check.out;
    EXPECT_EQ(check.out.find("srvpath"), std::string::npos) << check.out;
}

TEST_F(SettingsFaultTest, BinaryFile) {
    const std::string previous = SeedPrevious(site);
    std::string junk;
    for (int i = 0; i < 65536; ++i) {
        junk += static_cast<char>((i * 7919 + 13) % 256);
    }
    test::WriteFile(Ini(), junk);
    ExpectSettingsRefused(site.Run(), previous);
}

TEST_F(SettingsFaultTest, HugeFileIsReadOnlyUpToItsLimit) {
    // Valid settings, then 64 MB of filler: the run reads its values and publishes.
    std::string text = test::ReadFile(Ini());
    std::string filler;
    for (int i = 0; i < 1024 * 1024; ++i) {
        filler += "filler" + std::to_string(i % 10) + "=" + std::string(52, 'x') + "\r\n";
    }
    text += filler;
    test::WriteFile(Ini(), text);
    const auto r = site.Run();
    EXPECT_EQ(r.exitStatus, 0) << site.Log().raw;
    EXPECT_TRUE(IsCompleteDocument(site.Document(), 3));
    EXPECT_LT(r.seconds, 20.0);
    // Settings that only start beyond the limit are not seen.
    test::WriteFile(Ini(),
                    filler + "[Brimlet]\r\nKEMADDONDBstr=" + db->ConnectionString() + "\r\n");
    const std::string previous = site.Document();
    ExpectSettingsRefused(site.Run(), previous, 1);
}

TEST_F(SettingsFaultTest, ConnectionStringOf7999Characters) {
    std::string conn = db->ConnectionString() + ";XPAD=";
    conn += std::string(7999 - conn.size(), 'p');
    ASSERT_EQ(conn.size(), 7999u);
    site.WriteSettings(conn);
    const auto r = site.Run();
    EXPECT_EQ(r.exitStatus, 0) << site.Log().raw;
    EXPECT_TRUE(IsCompleteDocument(site.Document(), 3));
    ExpectCleanLog(site.Log(), conn);
    EXPECT_EQ(site.Log().raw.find(std::string(100, 'p')), std::string::npos);
}

}  // namespace
}  // namespace brimlet::faults
