// The real binary, run under chosen names in private directories.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "process/instance_guard.h"
#include "support/e2e.h"
#include "support/temp_dir.h"

namespace brimlet {
namespace {

using test::EntryTexts;
using test::FindLogFile;
using test::LinkBrimlet;
using test::ReadLog;
using test::RunProgram;
using test::TempDir;

const std::vector<std::string> kCLocale = {"LC_ALL=C"};

test::ProcessResult RunAs(const TempDir& dir, const std::string& name) {
    const std::string link = LinkBrimlet(dir.path(), name);
    return RunProgram(link, link, dir.path(), kCLocale);
}

TEST(MainRun, NamesWithoutThreeUsablePartsAreRefusedBeforeTheSettings) {
    const std::string refused = "modMain|Main|MSG|OS Type and Agent Type not supplied.||";
    // Taken: the settings are read (and found empty).
    const std::string taken = "modMain|getConDtls|ERR|-1|DBConnection Data missing for Brimlet|";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"pub_AG", refused},  {"pub_AG_OS_X", refused}, {"a_b_c_d_e", refused},
        {"pub__OS", refused}, {"pub_._OS", refused},    {"pub_AG_..", refused},
        {"pub_AG_", refused}, {"_AG_OS", taken},        {"._AG_OS", taken},
        {".._AG_OS", taken},  {"pubAGOS", refused}};
    for (const auto& [name, second] : cases) {
        SCOPED_TRACE(name);
        TempDir dir;
        test::WriteIni(dir.path(), {});  // would log "DBConnection Data missing" if read
        const auto r = RunAs(dir, name);
        EXPECT_EQ(r.exitStatus, 1);
        const auto log = ReadLog(FindLogFile(dir.path()));
        EXPECT_EQ(EntryTexts(log), (std::vector<std::string>{"modMain|Main|MSG|START||", second,
                                                             "modMain|Main|MSG|END||"}));
        EXPECT_EQ(FindLogFile(dir.path()).substr(dir.path().size()).rfind("/Log/" + name + "_", 0),
                  0u);
    }
}

// Started under the program's own name, as from PATH: no pair is named, nothing is created.
TEST(MainRun, TheProgramsOwnNameWithoutArgumentsPrintsTheUsage) {
    TempDir dir;
    const auto r = RunAs(dir, "brimlet");
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("usage: prefix_AGENT_OS"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(test::Exists(dir / "Log"));
}

// The journal sees stderr only: each ERR entry, then one summary line; never the log's MSGs.
TEST(MainRun, ErrEntriesAndTheOutcomeGoToStderrAsWell) {
    TempDir dir;
    test::WriteIni(dir.path(), {"purl=p"});
    const auto r = RunAs(dir, "pub_AG_OS");
    EXPECT_EQ(r.exitStatus, 1);
    const std::string log = FindLogFile(dir.path());
    EXPECT_EQ(r.err,
              "brimlet[pub_AG_OS]: getConDtls: -1 DBConnection Data missing for Brimlet\n"
              "brimlet[pub_AG_OS]: run failed (status 1), see " +
                  log + "\n");
    // The log keeps exactly its own entries.
    EXPECT_EQ(EntryTexts(ReadLog(log)),
              (std::vector<std::string>{
                  "modMain|Main|MSG|START||",
                  "modMain|getConDtls|ERR|-1|DBConnection Data missing for Brimlet|",
                  "modMain|Main|MSG|END||"}));
    if (::geteuid() == 0) {
        return;  // root writes a read-only file
    }
    // A log the run cannot write: stderr is all that is left to say so.
    ASSERT_EQ(::chmod(log.c_str(), 0444), 0);
    const auto again = RunProgram(dir / "pub_AG_OS", dir / "pub_AG_OS", dir.path(), kCLocale);
    EXPECT_EQ(again.exitStatus, 1);
    EXPECT_NE(again.err.find("brimlet[pub_AG_OS]: cannot write to the log " + log +
                             ": Permission denied\n"),
              std::string::npos)
        << again.err;
    EXPECT_NE(again.err.find("run failed (status 1), its log " + log + " is incomplete\n"),
              std::string::npos)
        << again.err;
}

// A misspelt time-out key: the entry's "Type mismatch" is named on stderr as --check names it,
// after a warning for a settings file every local user may read.
TEST(MainRun, StderrNamesTheBadTimeOutKeyAndWarnsOfASettingsFileOthersMayRead) {
    TempDir dir;
    test::WriteIni(dir.path(), {"KEMADDONDBstr=DSN=none", "purl=p", "surl=s", "srvpath=.",
                                "conntimeoutsec=10", "cmdtimout=30"});
    const std::string ini = dir / "Ini/dbstring.Ini";
    ASSERT_EQ(::chmod(ini.c_str(), 0644), 0);
    const auto r = RunAs(dir, "pub_AG_OS");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err.find("brimlet[pub_AG_OS]: settings file " + ini +
                         " readable by others (mode 0644), though it holds the database "
                         "password\n"
                         "brimlet[pub_AG_OS]: getConnected: 13 Type mismatch 50\n"
                         "brimlet[pub_AG_OS]: settings file " +
                         ini + ": key cmdtimeoutsec missing\n"),
              0u)
        << r.err;
    const auto check =
        RunProgram(dir / "pub_AG_OS", dir / "pub_AG_OS", dir.path(), kCLocale, {"--check"});
    EXPECT_EQ(check.exitStatus, 1);
    EXPECT_NE(check.out.find("warning: settings file " + ini + " readable by others (mode 0644)"),
              std::string::npos)
        << check.out;
    EXPECT_NE(check.out.find("error: " + ini + ": key cmdtimeoutsec missing\n"), std::string::npos)
        << check.out;
    // Group-readable is how the package installs it: no word.
    ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
    const auto quiet = RunProgram(dir / "pub_AG_OS", dir / "pub_AG_OS", dir.path(), kCLocale);
    EXPECT_EQ(quiet.err.find("readable by others"), std::string::npos) << quiet.err;
}

TEST(MainRun, FirstRunWritesTheHeaderAndASecondRunAppendsDirectly) {
    TempDir dir;
    const std::string link = LinkBrimlet(dir.path(), "pub_AG");
    ASSERT_EQ(RunProgram(link, link, dir.path(), kCLocale).exitStatus, 1);
    const std::string first = test::ReadFile(FindLogFile(dir.path()));
    ASSERT_EQ(RunProgram(link, link, dir.path(), kCLocale).exitStatus, 1);
    const auto log = ReadLog(FindLogFile(dir.path()));

    ASSERT_EQ(log.header.size(), 5u);
    EXPECT_EQ(log.header[0], "#Software: TULO.KEM.DC.pub_AG");
    EXPECT_EQ(log.header[1], "#Version: 2.0");
    EXPECT_TRUE(
        std::regex_match(log.header[2], std::regex(R"(#Date: \d\d/\d\d/\d{4} \d\d:\d\d:\d\d)")))
        << log.header[2];
    EXPECT_EQ(log.header[3], "#Fields: DateTime\tModule\tFunction\tType\tVal1\tVal2\tVal3");
    EXPECT_EQ(log.header[4], std::string(126, '-'));
    // The second run's entries follow the first run's directly: no header, no blank line.
    EXPECT_EQ(log.raw.substr(0, first.size()), first);
    EXPECT_EQ(log.entries.size(), 6u);
    for (const auto& cols : log.entries) {
        ASSERT_EQ(cols.size(), 7u);
        EXPECT_TRUE(std::regex_match(cols[0], std::regex(R"(\d\d/\d\d/\d{4}( \d\d:\d\d:\d\d)?)")))
            << cols[0];
    }
    EXPECT_EQ(log.raw.substr(log.raw.size() - 7), "END\t\t\r\n");
}

TEST(MainRun, LogGoesBesideTheLinkNotBesideTheBinary) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "links").c_str(), 0755), 0);
    const std::string link = LinkBrimlet(dir / "links", "pub_AG");
    // Invoked through a relative path from another working directory.
    ASSERT_EQ(RunProgram(link, "./links/pub_AG", dir.path(), kCLocale).exitStatus, 1);
    EXPECT_NE(FindLogFile(dir / "links"), "");
}

TEST(MainRun, SecondInstanceEndsAtOnceWithoutAnyTrace) {
    TempDir dir;
    const std::string link = LinkBrimlet(dir.path(), "pub_AG_OS");
    InstanceGuard held;
    ASSERT_EQ(held.Acquire(link), InstanceGuard::State::Held);
    const auto r = RunProgram(link, link, dir.path(), kCLocale);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_FALSE(test::Exists(dir / "Log"));
}

TEST(MainRun, TheSameLinkThroughADirectoryAliasIsTheSameInstance) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("real", (dir / "alias").c_str()), 0);
    InstanceGuard held;
    ASSERT_EQ(held.Acquire(LinkBrimlet(dir / "real", "pub_AG_OS")), InstanceGuard::State::Held);
    const std::string alias = dir / "alias/pub_AG_OS";
    EXPECT_EQ(RunProgram(alias, alias, dir.path(), kCLocale).exitStatus, 0);
    EXPECT_FALSE(test::Exists(dir / "real/Log"));
}

TEST(MainRun, LogDirectoryThatCannotBeCreatedEndsTheRunWithoutAnyFile) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root ignores directory permissions";
    }
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "ro").c_str(), 0755), 0);
    const std::string link = LinkBrimlet(dir / "ro", "pub_AG_OS");
    test::WriteIni(dir / "ro", {});
    ASSERT_EQ(::chmod((dir / "ro").c_str(), 0555), 0);
    const auto r = RunProgram(link, link, dir.path(), kCLocale);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_FALSE(test::Exists(dir / "ro/Log"));
}

}  // namespace
}  // namespace brimlet
