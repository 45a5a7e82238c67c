#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "metrics/metrics.h"
#include "run/get_con_dtls.h"
#include "run/run_context.h"
#include "run/run_metrics.h"
#include "settings/settings.h"
#include "support/e2e.h"
#include "support/temp_dir.h"

namespace brimlet {
namespace {

using test::TempDir;
using test::WriteFile;
using Entry = std::vector<std::string>;  // Module, Function, Type, Val1, Val2, Val3

class GetConDtls : public ::testing::Test {
  protected:
    void SetUp() override {
        ::mkdir((m_dir / "exe").c_str(), 0755);
        ::mkdir((m_dir / "exe/Ini").c_str(), 0755);
        ::mkdir((m_dir / "out").c_str(), 0755);
        m_ctx.log.exeDir = m_dir / "exe";
        m_ctx.iniPath = m_dir / "exe/Ini/dbstring.Ini";
        m_ctx.log.logFilePath = m_dir / "run.log";
    }

    void WriteIni(const std::string& srvpathLine, const std::string& required =
                                                      "KEMADDONDBstr=DSN=k\n"
                                                      "purl=http://p/\n"
                                                      "surl=http://s/\n") {
        WriteFile(m_ctx.iniPath,
                  "[Brimlet]\n" + required + "conntimeoutsec=15\ncmdtimeoutsec=30\n" + srvpathLine);
    }

    // The log's entries without their date-time column.
    std::vector<Entry> Entries() const {
        if (!test::Exists(m_ctx.log.logFilePath)) {
            return {};
        }
        return test::CheckedEntries(test::ReadLog(m_ctx.log.logFilePath));
    }

    static Entry Msg(std::string type, std::string val1, std::string val2 = "",
                     std::string val3 = "") {
        return {"modMain",       "getConDtls",    std::move(type),
                std::move(val1), std::move(val2), std::move(val3)};
    }

    TempDir m_dir;
    RunContext m_ctx;
};

TEST_F(GetConDtls, ReadsAllSixSettingsAndCompletesAnExistingPath) {
    WriteIni("srvpath=   " + (m_dir / "out") + "  \n",
             "KEMADDONDBstr= Driver=X;Pwd=p \npurl=\" http://p/ \"\nsurl=http://s/\n");
    ASSERT_TRUE(getConDtls(m_ctx));
    EXPECT_EQ(m_ctx.connectionString, "Driver=X;Pwd=p");
    EXPECT_EQ(m_ctx.connTimeoutSec.text(), "15");
    EXPECT_EQ(m_ctx.cmdTimeoutSec.text(), "30");
    EXPECT_EQ(m_ctx.purl, " http://p/ ");  // the blank test trims, the stored value does not
    EXPECT_EQ(m_ctx.surl, "http://s/");
    EXPECT_EQ(m_ctx.srvPath, (m_dir / "out") + "/");
    EXPECT_TRUE(Entries().empty());
}

TEST_F(GetConDtls, PathsThatExistAreKept) {
    WriteIni("srvpath=" + (m_dir / "out") + "/\n");
    ASSERT_TRUE(getConDtls(m_ctx));
    EXPECT_EQ(m_ctx.srvPath, (m_dir / "out") + "/");

    // A file of that name passes the existence test as well.
    WriteFile(m_dir / "plain", "x");
    WriteIni("srvpath=" + (m_dir / "plain") + "\n");
    ASSERT_TRUE(getConDtls(m_ctx));
    EXPECT_EQ(m_ctx.srvPath, (m_dir / "plain") + "/");

    WriteIni("srvpath=/\n");
    ASSERT_TRUE(getConDtls(m_ctx));
    EXPECT_EQ(m_ctx.srvPath, "/");
    EXPECT_TRUE(Entries().empty());
}

TEST_F(GetConDtls, RelativePathIsTakenFromTheExecutableDirectory) {
    ::mkdir((m_dir / "exe/www").c_str(), 0755);
    // Found beside the program, whatever the working directory is; a relative path that
    // names nothing there falls back as any other.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"www", m_ctx.log.exeDir + "/www/"},
        {"../out", m_ctx.log.exeDir + "/../out/"},
        {"nothing", m_ctx.log.exeDir + "/"},
    };
    for (const auto& [value, expected] : cases) {
        SCOPED_TRACE(value);
        ::unlink(m_ctx.log.logFilePath.c_str());
        WriteIni("srvpath=" + value + "\n");
        ASSERT_TRUE(getConDtls(m_ctx));
        EXPECT_EQ(m_ctx.srvPath, expected);
        EXPECT_EQ(Entries().size(), value == "nothing" ? 2u : 0u);
    }
}

// A missing or blank path is "not available", one that leads nowhere "not found"; both fall
// back to the executable's directory.
TEST_F(GetConDtls, MissingBlankOrDeadPathFallsBackToTheExecutableDirectory) {
    WriteFile(m_dir / "plain", "x");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "Path not available"},
        {"srvpath=\n", "Path not available"},
        {"srvpath=    \n", "Path not available"},
        {"srvpath=" + (m_dir / "nothing") + "\n", "Path not found"},
        {"srvpath=" + (m_dir / "nothing/below") + "\n", "Path not found"},
        {"srvpath=" + (m_dir / "plain/below") + "\n", "Path not found"},
    };
    for (const auto& [line, text] : cases) {
        SCOPED_TRACE(line);
        ::unlink(m_ctx.log.logFilePath.c_str());
        WriteIni(line);
        ASSERT_TRUE(getConDtls(m_ctx));
        EXPECT_EQ(m_ctx.srvPath, m_ctx.log.exeDir + "/");
        EXPECT_EQ(Entries(), (std::vector<Entry>{Msg("ERR", text),
                                                 Msg("MSG", "Default Path ::", m_ctx.log.exeDir)}));
    }
}

TEST_F(GetConDtls, AnyBlankRequiredSettingGivesOneEntry) {
    const std::vector<std::string> cases = {
        "purl=http://p/\nsurl=http://s/\n",
        "KEMADDONDBstr=   \npurl=http://p/\nsurl=http://s/\n",
        "KEMADDONDBstr=k\nsurl=http://s/\n",
        "KEMADDONDBstr=k\npurl=http://p/\nsurl=\"   \"\n",
        "",
    };
    for (const std::string& required : cases) {
        SCOPED_TRACE(required);
        ::unlink(m_ctx.log.logFilePath.c_str());
        WriteIni("srvpath=  " + (m_dir / "nothing") + "  \n", required);
        EXPECT_FALSE(getConDtls(m_ctx));
        EXPECT_EQ(Entries(),
                  (std::vector<Entry>{Msg("ERR", "-1", "DBConnection Data missing for Brimlet")}));
        // Trimmed, but neither replaced nor completed: nothing uses it after a refusal.
        EXPECT_EQ(m_ctx.srvPath, m_dir / "nothing");
        EXPECT_EQ(m_ctx.cmdTimeoutSec.text(), "30");
    }
}

TEST_F(GetConDtls, MissingSettingsFileIsMissingData) {
    m_ctx.iniPath = m_dir / "exe/Ini/absent.Ini";
    EXPECT_FALSE(getConDtls(m_ctx));
    EXPECT_EQ(Entries(),
              (std::vector<Entry>{Msg("ERR", "-1", "DBConnection Data missing for Brimlet")}));
    EXPECT_EQ(m_ctx.connectionString, "");
    EXPECT_EQ(m_ctx.srvPath, "");
}

// A refused file's metricsdir is not used, yet the pair reports its failure where the exporter
// reads by default; a run with no metricsdir in a trusted file reports nowhere.
TEST_F(GetConDtls, RefusedFileStillReportsTheFailureToTheDefaultMetricsDirectoryOnly) {
    for (const bool refused : {true, false}) {
        SCOPED_TRACE(refused ? "refused" : "trusted, no metricsdir");
        TempDir dir;
        ASSERT_EQ(::mkdir((dir / "named").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((dir / "default").c_str(), 0755), 0);
        WriteIni("srvpath=\n" + (refused ? "metricsdir=" + (dir / "named") + "\n" : ""));
        ASSERT_EQ(::chmod(m_ctx.iniPath.c_str(), refused ? 0666 : 0640), 0);
        RunContext ctx;
        ctx.iniPath = m_ctx.iniPath;
        ctx.log.exeDir = m_ctx.log.exeDir;
        ctx.log.exeName = "pub_AG_OS";
        ctx.agentType = "AG";
        ctx.osType = "OS";
        ctx.defaultMetricsDir = dir / "default";
        EXPECT_EQ(getConDtls(ctx), !refused);
        EXPECT_TRUE(WriteRunMetrics(ctx, 1));
        EXPECT_TRUE(std::filesystem::is_empty(dir / "named"));
        const std::string file = dir / ("default/" + metrics::MetricsFileName("pub_AG_OS"));
        EXPECT_EQ(test::Exists(file), refused);
        if (refused) {
            EXPECT_NE(
                test::ReadFile(file).find(
                    "brimlet_last_exit_status{link=\"pub_AG_OS\",agent=\"AG\",os=\"OS\"} 1\n"),
                std::string::npos)
                << test::ReadFile(file);
        }
    }
}

TEST_F(GetConDtls, FailingExistenceTestIsAnErrorOfStep170) {
    // A symlink loop and an over-long name make stat() fail with neither ENOENT nor ENOTDIR,
    // whoever runs the test.
    ASSERT_EQ(::symlink("loop_b", (m_dir / "loop_a").c_str()), 0);
    ASSERT_EQ(::symlink("loop_a", (m_dir / "loop_b").c_str()), 0);
    const std::vector<std::pair<std::string, int>> cases = {
        {m_dir / "loop_a", ELOOP},
        {m_dir / std::string(300, 'n'), ENAMETOOLONG},
    };
    for (const auto& [path, err] : cases) {
        SCOPED_TRACE(path);
        ::unlink(m_ctx.log.logFilePath.c_str());
        WriteIni("srvpath=" + path + "\n");
        EXPECT_FALSE(getConDtls(m_ctx));
        EXPECT_EQ(Entries(), (std::vector<Entry>{Msg("ERR", std::to_string(err),
                                                     path + ": " + std::strerror(err), "170")}));
        EXPECT_EQ(m_ctx.srvPath, path);
    }
}

TEST_F(GetConDtls, UnsearchableDirectoryIsAnErrorOfStep170) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "running as root: permission bits do not stop root, so EACCES cannot "
                        "be provoked";
    }
    const std::string locked = m_dir / "locked";
    ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((locked + "/inner").c_str(), 0755), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    WriteIni("srvpath=" + locked + "/inner\n");
    const bool result = getConDtls(m_ctx);
    ::chmod(locked.c_str(), 0755);
    EXPECT_FALSE(result);
    EXPECT_EQ(Entries(),
              (std::vector<Entry>{Msg("ERR", std::to_string(EACCES),
                                      locked + "/inner: " + std::strerror(EACCES), "170")}));
}

}  // namespace
}  // namespace brimlet
