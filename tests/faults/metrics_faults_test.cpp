// The metrics file as a node exporter serves it: the real Debian node exporter scrapes the
// textfile directory the runs write to, after a success, a run that left rows out and a
// procedure time-out of the same link. A metrics directory that cannot be written changes
// nothing of the run beyond one entry.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <thread>

#include "fault_case.h"
#include "support/fault_listener.h"

namespace brimlet::faults {
namespace {

using test::Backend;

constexpr const char* kNodeExporter = "/usr/bin/prometheus-node-exporter";
constexpr const char* kPromtool = "/usr/bin/promtool";
constexpr const char* kCurl = "/usr/bin/curl";

// Output and exit status of a shell command.
struct Command {
    std::string out;
    int status = -1;
};
Command Shell(const std::string& command) {
    Command c;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) {
        return c;
    }
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) {
        c.out.append(buf, n);
    }
    const int raw = ::pclose(pipe.release());
    c.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return c;
}

// The node exporter with only its textfile collector, on a free port of 127.0.0.1.
class NodeExporter {
  public:
    explicit NodeExporter(const std::string& textfileDir) : m_port(test::UnusedPort()) {
        const std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(m_port);
        const std::string dir = "--collector.textfile.directory=" + textfileDir;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::execl(kNodeExporter, kNodeExporter, listen.c_str(), "--collector.disable-defaults",
                    "--collector.textfile", dir.c_str(), "--web.disable-exporter-metrics",
                    "--log.level=warn", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~NodeExporter() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    NodeExporter(const NodeExporter&) = delete;
    NodeExporter& operator=(const NodeExporter&) = delete;

    // /metrics, waiting up to 10 s for the exporter to listen; "" when it never answered.
    std::string Scrape() const {
        const std::string cmd = std::string(kCurl) +
                                " -sSf --max-time 5 http://127.0.0.1:" + std::to_string(m_port) +
                                "/metrics 2>/dev/null";
        for (int attempt = 0; attempt < 100; ++attempt) {
            const Command c = Shell(cmd);
            if (c.status == 0) {
                return c.out;
            }
            int status = 0;
            if (m_pid <= 0 || ::waitpid(m_pid, &status, WNOHANG) != 0) {
                return {};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return {};
    }

  private:
    int m_port;
    pid_t m_pid = -1;
};

// The brimlet_* samples of the link in a scrape, by metric name; values as the exporter
// formats them (it may use exponents), read as numbers.
std::map<std::string, double> Samples(const std::string& scrape, const std::string& link) {
    std::map<std::string, double> found;
    std::size_t pos = 0;
    while (pos < scrape.size()) {
        std::size_t end = scrape.find('\n', pos);
        if (end == std::string::npos) {
            end = scrape.size();
        }
        const std::string line = scrape.substr(pos, end - pos);
        pos = end + 1;
        const auto brace = line.find('{');
        if (line.rfind("brimlet_", 0) != 0 || brace == std::string::npos ||
            line.find("link=\"" + link + "\"") == std::string::npos) {
            continue;
        }
        found[line.substr(0, brace)] =
            std::strtod(line.substr(line.rfind(' ') + 1).c_str(), nullptr);
    }
    return found;
}

std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Tools of the test group of the packages; missing ones skip, or fail under scripts/test.
#define REQUIRE_TOOLS()                                                       \
    do {                                                                      \
        for (const char* tool : {kNodeExporter, kPromtool, kCurl}) {          \
            if (::access(tool, X_OK) != 0) {                                  \
                if (test::RequireDb()) {                                      \
                    FAIL() << tool                                            \
                           << " missing (packages prometheus-node-exporter, " \
                              "prometheus, curl)";                            \
                }                                                             \
                GTEST_SKIP() << tool << " missing";                           \
            }                                                                 \
        }                                                                     \
    } while (0)

class MetricsRunTest : public test::BackendTest {
  protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        LoadSchema(Db(), 3);
    }
    int ErrEntries() const {
        int n = 0;
        for (const auto& cols : site.Log().entries) {
            n += cols.size() > 3 && cols[3] == "ERR";
        }
        return n;
    }

    RunSite site;
};

TEST_P(MetricsRunTest, ScrapedValuesAreThoseOfEachRunAndTheSuccessOutlivesFailures) {
    REQUIRE_TOOLS();
    test::TempDir textfiles;
    NodeExporter exporter(textfiles.path());
    const std::string prom = textfiles / "brimlet_pub_FA_LNX.prom";
    const std::string promtool = std::string(kPromtool) + " check metrics < " + prom + " 2>&1";
    site.WriteSettings(Db().ConnectionString(), "10", "2", {"metricsdir=" + textfiles.path()});

    // A success: everything of this run, the success and the publication at its end.
    const auto before = std::time(nullptr);
    ASSERT_EQ(site.Run().exitStatus, 0) << site.Log().raw;
    const auto after = std::time(nullptr);
    std::string scrape = exporter.Scrape();
    ASSERT_FALSE(scrape.empty()) << "node exporter did not answer";
    std::cout << "scraped after the success:\n" << scrape;
    auto s = Samples(scrape, "pub_FA_LNX");
    EXPECT_NE(scrape.find("\nnode_textfile_scrape_error 0\n"), std::string::npos) << scrape;
    EXPECT_NE(scrape.find(R"(brimlet_last_exit_status{agent="FA",link="pub_FA_LNX",os="LNX"} 0)"),
              std::string::npos)
        << scrape;
    EXPECT_EQ(s.size(), 10u) << scrape;
    EXPECT_EQ(s["brimlet_last_exit_status"], 0);
    EXPECT_GE(s["brimlet_last_run_start_timestamp_seconds"], before);
    EXPECT_LE(s["brimlet_last_run_end_timestamp_seconds"], after);
    EXPECT_EQ(s["brimlet_last_run_duration_seconds"],
              s["brimlet_last_run_end_timestamp_seconds"] -
                  s["brimlet_last_run_start_timestamp_seconds"]);
    EXPECT_GE(s["brimlet_last_run_duration_seconds"], 2);  // the pause before the checksum
    EXPECT_EQ(s["brimlet_last_success_timestamp_seconds"],
              s["brimlet_last_run_end_timestamp_seconds"]);
    EXPECT_TRUE(IsCompleteDocument(site.Document(),
                                   static_cast<int>(s["brimlet_last_components_published"])));
    EXPECT_EQ(s["brimlet_last_components_published"], 3);
    EXPECT_EQ(s["brimlet_last_document_bytes"], static_cast<double>(FileSize(site.xml)));
    EXPECT_EQ(s["brimlet_last_rows_left_out"], 0);
    EXPECT_EQ(s["brimlet_last_error_entries"], 0);
    EXPECT_GE(s["brimlet_last_published_timestamp_seconds"], before);
    EXPECT_LE(s["brimlet_last_published_timestamp_seconds"], after);
    Command check = Shell(promtool);
    EXPECT_EQ(check.status, 0) << check.out;
    struct stat st {};
    ASSERT_EQ(::stat(prom.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    const double success = s["brimlet_last_success_timestamp_seconds"];

    // Published, but a row was left out (an ERR entry): exit 1, the new publication, the old
    // success.
    std::string badRow = ComponentInserts(backend(), 1, "FA", "LNX");
    badRow.replace(badRow.find("'EXE'"), 5, "'9x'");
    Db().Exec(badRow);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    int errBefore = ErrEntries();
    ASSERT_EQ(site.Run().exitStatus, 1) << site.Log().raw;
    scrape = exporter.Scrape();
    s = Samples(scrape, "pub_FA_LNX");
    EXPECT_EQ(s["brimlet_last_exit_status"], 1) << scrape;
    EXPECT_EQ(s["brimlet_last_rows_left_out"], 1) << scrape;
    EXPECT_TRUE(IsCompleteDocument(site.Document(),
                                   static_cast<int>(s["brimlet_last_components_published"])));
    EXPECT_EQ(s["brimlet_last_components_published"], 3);
    EXPECT_EQ(s["brimlet_last_document_bytes"], static_cast<double>(FileSize(site.xml)));
    EXPECT_EQ(s["brimlet_last_error_entries"], ErrEntries() - errBefore);
    EXPECT_EQ(s["brimlet_last_error_entries"], 1);
    EXPECT_EQ(s["brimlet_last_success_timestamp_seconds"], success);
    EXPECT_GT(s["brimlet_last_published_timestamp_seconds"], success);
    const double published = s["brimlet_last_published_timestamp_seconds"];

    // The procedure outlasts the command time-out: nothing published, both times kept.
    MakeComponentQuerySleep(Db(), backend());
    const std::string document = site.Document();
    errBefore = ErrEntries();
    ASSERT_EQ(site.Run().exitStatus, 1) << site.Log().raw;
    EXPECT_EQ(site.Document(), document);
    EXPECT_TRUE(HasEntry(site.Texts(), "modMain|FncCreateXMLString|ERR|")) << site.Log().raw;
    scrape = exporter.Scrape();
    std::cout << "scraped after the time-out:\n" << scrape;
    s = Samples(scrape, "pub_FA_LNX");
    EXPECT_EQ(s.size(), 10u) << scrape;
    EXPECT_EQ(s["brimlet_last_exit_status"], 1);
    EXPECT_EQ(s["brimlet_last_success_timestamp_seconds"], success);
    EXPECT_EQ(s["brimlet_last_published_timestamp_seconds"], published);
    EXPECT_EQ(s["brimlet_last_components_published"], 0);
    EXPECT_EQ(s["brimlet_last_document_bytes"], 0);
    EXPECT_EQ(s["brimlet_last_rows_left_out"], 0);
    EXPECT_GE(s["brimlet_last_error_entries"], 1);
    EXPECT_EQ(s["brimlet_last_error_entries"], ErrEntries() - errBefore);
    EXPECT_GE(s["brimlet_last_run_duration_seconds"], 2);
    check = Shell(promtool);
    EXPECT_EQ(check.status, 0) << check.out;
    const auto texts = site.Texts();
    EXPECT_FALSE(HasEntry(texts, "modMain|WriteRunMetrics|"));
    EXPECT_EQ(texts.back(), "modMain|Main|MSG|END||");
}

// Monitoring would go on showing the run before: the run fails, and says so on stderr.
TEST_P(MetricsRunTest, UnwritableMetricsDirectoryFailsTheRunOtherwiseAsWithoutTheKey) {
    const bool root = ::geteuid() == 0;
    // Module|Function|Type of each entry: the values hold paths and checksums of each site.
    auto shape = [](const RunSite& site) {
        std::vector<std::string> out;
        for (const auto& cols : site.Log().entries) {
            if (cols.size() > 3 && cols[2] != "WriteRunMetrics") {
                out.push_back(cols[1] + "|" + cols[2] + "|" + cols[3]);
            }
        }
        return out;
    };
    site.WriteSettings(Db().ConnectionString());
    ASSERT_EQ(site.Run().exitStatus, 0) << site.Log().raw;
    ASSERT_TRUE(IsCompleteDocument(site.Document(), 3));

    struct Case {
        const char* what;
        std::string dir;  // relative to the site
        mode_t mode;      // of an existing directory, 0: none
    };
    for (const Case& c : {Case{"missing", "nowhere", 0}, Case{"read-only", "prom", 0555}}) {
        SCOPED_TRACE(c.what);
        if (c.mode == 0555 && root) {
            std::cout << "read-only case skipped: root writes into a read-only directory\n";
            continue;
        }
        RunSite other;
        if (c.mode != 0) {
            ASSERT_EQ(::mkdir((other.dir / c.dir).c_str(), c.mode), 0);
        }
        // Relative, so it resolves against the program's directory.
        other.WriteSettings(Db().ConnectionString(), "10", "30", {"metricsdir=" + c.dir});
        const auto r = other.Run();
        EXPECT_EQ(r.exitStatus, 1) << other.Log().raw;
        EXPECT_NE(r.err.find("[pub_FA_LNX]: metrics not written: "), std::string::npos) << r.err;
        EXPECT_TRUE(IsCompleteDocument(other.Document(), 3));
        EXPECT_EQ(shape(other), shape(site)) << other.Log().raw;
        const auto texts = other.Texts();
        // One entry, naming the directory as it resolved.
        EXPECT_EQ(CountEntries(texts, "modMain|WriteRunMetrics|"), 1) << other.Log().raw;
        EXPECT_EQ(CountEntries(texts, "modMain|WriteRunMetrics|MSG|Metrics not written|"), 1);
        EXPECT_NE(other.Log().raw.find(" " + other.dir.path() + "/" + c.dir), std::string::npos);
        EXPECT_EQ(texts.back(), "modMain|Main|MSG|END||");
        ::chmod((other.dir / c.dir).c_str(), 0755);
    }
}

TEST(MetricsRules, PromtoolAcceptsTheRulesAndTheirTests) {
    REQUIRE_TOOLS();
    const std::string dir = std::string(BRIMLET_SOURCE_DIR) + "/packaging/prometheus";
    for (const std::string& cmd :
         {std::string(kPromtool) + " check rules " + dir + "/brimlet.rules.yml 2>&1",
          "cd " + dir + " && " + kPromtool + " test rules brimlet.rules.test.yml 2>&1"}) {
        const Command c = Shell(cmd);
        EXPECT_EQ(c.status, 0) << cmd << "\n" << c.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, MetricsRunTest, ::testing::Values(Backend::Pg),
                         test::BackendParamName);

}  // namespace
}  // namespace brimlet::faults
