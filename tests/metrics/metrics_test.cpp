#include "metrics/metrics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/code_page.h"
#include "metrics/status.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brimlet::metrics {
namespace {

RunFigures Figures(int exitStatus, bool published) {
    RunFigures run;
    run.link = "pub_FA_LNX";
    run.agent = "FA";
    run.os = "LNX";
    run.startTime = 1700000000;
    run.endTime = 1700000007;
    run.exitStatus = exitStatus;
    run.published = published;
    run.publishedTime = 1700000004;
    run.componentsPublished = published ? 3 : 0;
    run.rowsLeftOut = 2;
    run.documentBytes = published ? 1234 : 0;
    run.errorEntries = exitStatus == 0 ? 0 : 4;
    return run;
}

std::string Sample(const std::string& name, const std::string& value) {
    return name + R"({link="pub_FA_LNX",agent="FA",os="LNX"} )" + value + "\n";
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(MetricsText, LabelValuesAreEscapedAndReadBack) {
    struct Case {
        std::string raw, escaped;
    };
    const std::vector<Case> cases = {
        {"plain_A_B", "plain_A_B"},
        {R"(back\slash)", R"(back\\slash)"},
        {R"(say "hi")", R"(say \"hi\")"},
        {"two\nlines", R"(two\nlines)"},
        {"\\n", R"(\\n)"},  // a backslash before an n is not a line feed
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeLabelValue(c.raw), c.escaped) << c.raw;
        RunFigures run = Figures(0, true);
        run.link = c.raw;
        run.os = c.raw;
        const std::string text = RenderMetrics(run, {});
        EXPECT_TRUE(Has(text, "{link=\"" + c.escaped + "\",agent=\"FA\",os=\"" + c.escaped + "\"}"))
            << text;
        // Each sample is one line, whatever the names hold.
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 * 10) << text;
        const CarriedOver back = ReadCarriedOver(text, run);
        EXPECT_EQ(back.lastSuccess, run.endTime) << c.raw;
        EXPECT_EQ(back.lastPublished, run.publishedTime) << c.raw;
    }
    // The names are the program's text (the ANSI code page on Windows); the file is UTF-8, and
    // --status reads a name back as the program's text.
    RunFigures run = Figures(0, true);
    run.link = AnsiFromUtf8("pub_\xC3\xA9_B");
    const std::string text = RenderMetrics(run, {});
    EXPECT_TRUE(Has(text, "{link=\"pub_\xC3\xA9_B\",")) << text;
    const std::vector<PairStatus> pairs = ParsePairs(text);
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_EQ(pairs[0].link, run.link);
}

TEST(MetricsText, SuccessAndPublicationAreCarriedOverOnlyWhenTheRunHasNone) {
    const CarriedOver earlier{1600000000, 1600000001};
    struct Case {
        const char* what;
        int status;
        bool published;
        CarriedOver previous;
        std::optional<std::int64_t> success, publishedAt;
    };
    const std::vector<Case> cases = {
        {"success", 0, true, earlier, 1700000007, 1700000004},
        {"failure after publishing", 1, true, earlier, 1600000000, 1700000004},
        {"failure without publishing", 1, false, earlier, 1600000000, 1600000001},
        {"first run fails", 1, false, {}, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const std::string text = RenderMetrics(Figures(c.status, c.published), c.previous);
        const CarriedOver got = ReadCarriedOver(text, Figures(c.status, c.published));
        EXPECT_EQ(got.lastSuccess, c.success) << c.what << "\n" << text;
        EXPECT_EQ(got.lastPublished, c.publishedAt) << c.what << "\n" << text;
        // A metric without a value has no HELP or TYPE either.
        EXPECT_EQ(Has(text, "# TYPE brimlet_last_success_timestamp_seconds gauge\n"),
                  c.success.has_value())
            << c.what;
        EXPECT_TRUE(Has(text, Sample("brimlet_last_exit_status", std::to_string(c.status))));
    }
    const std::string text = RenderMetrics(Figures(1, false), {});
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"brimlet_last_run_start_timestamp_seconds", "1700000000"},
             {"brimlet_last_run_end_timestamp_seconds", "1700000007"},
             {"brimlet_last_run_duration_seconds", "7"},
             {"brimlet_last_components_published", "0"},
             {"brimlet_last_rows_left_out", "2"},
             {"brimlet_last_document_bytes", "0"},
             {"brimlet_last_error_entries", "4"}}) {
        EXPECT_TRUE(Has(text, "# HELP " + name + " ")) << name;
        EXPECT_TRUE(Has(text, "# TYPE " + name + " gauge\n" + Sample(name, value))) << text;
    }
    // The expected interval is a series only where the pair's settings give a usable one.
    EXPECT_FALSE(Has(text, "brimlet_expected_interval_seconds"));
    RunFigures hourly = Figures(1, false);
    hourly.expectedInterval = ParseInterval(" 3600 ");
    EXPECT_TRUE(
        Has(RenderMetrics(hourly, {}), "# TYPE brimlet_expected_interval_seconds gauge\n" +
                                           Sample("brimlet_expected_interval_seconds", "3600")));
    for (const char* bad : {"", "0", "-60", "1h", "36 00", "99999999999999999999"}) {
        EXPECT_EQ(ParseInterval(bad), std::nullopt) << bad;
    }
}

TEST(MetricsText, CarryOverIgnoresOtherLabelsAndForeignValues) {
    const RunFigures run = Figures(1, false);
    const std::string labels = LabelSet(run);
    struct Case {
        std::string text;
        std::optional<std::int64_t> success;
    };
    const std::vector<Case> cases = {
        {"brimlet_last_success_timestamp_seconds" + labels + " 42\n", 42},
        {"brimlet_last_success_timestamp_seconds" + labels + " 42\r\n", 42},
        {R"(brimlet_last_success_timestamp_seconds{link="other_FA_LNX",agent="FA",os="LNX"} 42)",
         std::nullopt},
        {"brimlet_last_success_timestamp_seconds_total" + labels + " 42\n", std::nullopt},
        {"# brimlet_last_success_timestamp_seconds" + labels + " 42\n", std::nullopt},
        {"brimlet_last_success_timestamp_seconds" + labels + " 4.2e1\n", std::nullopt},
        {"brimlet_last_success_timestamp_seconds" + labels + " 42x\n", std::nullopt},
        {"brimlet_last_success_timestamp_seconds" + labels + " \n", std::nullopt},
        {"brimlet_last_success_timestamp_seconds" + labels, std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadCarriedOver(c.text, run).lastSuccess, c.success) << c.text;
    }
}

// Names in dir, "." and ".." aside.
std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

TEST(MetricsFile, ReplacedWholeAndCarriedOverInARealDirectoryOnly) {
    test::TempDir dir;
    const std::string prom = dir / "brimlet_pub_FA_LNX.prom";
    ASSERT_EQ(WriteMetricsFile(dir.path(), Figures(0, true)), std::nullopt);
    EXPECT_EQ(test::ReadFile(prom), RenderMetrics(Figures(0, true), {}));

    // The next, failing run keeps the success of the file before it; a trailing separator is
    // fine.
    ASSERT_EQ(WriteMetricsFile(dir.path() + kSeparator, Figures(1, false)), std::nullopt);
    const CarriedOver kept = ReadCarriedOver(test::ReadFile(prom), Figures(1, false));
    EXPECT_EQ(kept.lastSuccess, 1700000007);
    EXPECT_EQ(kept.lastPublished, 1700000004);
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"brimlet_pub_FA_LNX.prom"});

    // A missing directory, or a plain file in its place, is refused without writing anything.
    test::WriteFile(dir / "plain", "");
    for (const std::string& bad : {dir / "missing", dir / "plain"}) {
        const std::optional<Failure> failure = WriteMetricsFile(bad, Figures(0, true));
        ASSERT_TRUE(failure.has_value()) << bad;
        EXPECT_NE(failure->description().find(dir.path()), std::string::npos)
            << failure->description();
    }
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"brimlet_pub_FA_LNX.prom", "plain"}));
}

#ifndef _WIN32
TEST(MetricsFile, ReadableWhateverTheUmaskAndNeverThroughAFifoOrSymlink) {
    test::TempDir dir;
    const std::string prom = dir / "brimlet_pub_FA_LNX.prom";

    // A restrictive umask still gives the collector a readable file.
    const mode_t old = ::umask(077);
    ASSERT_EQ(WriteMetricsFile(dir.path(), Figures(0, true)), std::nullopt);
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(prom.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    // A FIFO in the file's place is neither opened for reading nor blocked on: it is replaced.
    ASSERT_EQ(::unlink(prom.c_str()), 0);
    ASSERT_EQ(::mkfifo(prom.c_str(), 0644), 0);
    ASSERT_EQ(WriteMetricsFile(dir.path(), Figures(1, false)), std::nullopt);
    ASSERT_EQ(::lstat(prom.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadCarriedOver(test::ReadFile(prom), Figures(1, false)).lastSuccess, std::nullopt);

    // A symlink in the file's place is replaced, its target left alone.
    const std::string target = dir / "target.txt";
    test::WriteFile(
        target, "brimlet_last_success_timestamp_seconds" + LabelSet(Figures(1, false)) + " 99\n");
    ASSERT_EQ(::unlink(prom.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), prom.c_str()), 0);
    ASSERT_EQ(WriteMetricsFile(dir.path(), Figures(1, false)), std::nullopt);
    ASSERT_EQ(::lstat(prom.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadCarriedOver(test::ReadFile(prom), Figures(1, false)).lastSuccess, std::nullopt);
    EXPECT_EQ(test::ReadFile(target).substr(0, 7), "brimlet");

    // A directory that is a symlink or a FIFO is refused without writing anything.
    ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "linked").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    for (const std::string& bad : {dir / "linked", dir / "linked/", dir / "fifo"}) {
        const std::optional<Failure> failure = WriteMetricsFile(bad, Figures(0, true));
        ASSERT_TRUE(failure.has_value()) << bad;
        EXPECT_NE(failure->description().find(dir.path()), std::string::npos)
            << failure->description();
    }
    EXPECT_TRUE(Names(dir / "real").empty());
}
#endif

// `--status` over files as runs write them: failing and overdue pairs first, each by name, and a
// label that would steer the terminal or forge a row shown inert on its one line.
TEST(MetricsStatus, FailingAndOverduePairsComeFirst) {
    constexpr std::int64_t kNow = 1700100000;
    struct Pair {
        const char* link;
        int status;
        std::optional<std::int64_t> successAge, interval;
    };
    const Pair pairs[] = {
        {"p_OK_A", 0, 60, std::nullopt},
        {"p_FAIL_A", 1, 600, std::nullopt},
        {"p_LATE_A", 0, 4 * 3600, std::nullopt},  // three default hours have passed
        {"p_SLOW_A", 0, 4 * 3600, 6 * 3600},      // but not three of its own six hours
        {"p_NEVER_A", 1, std::nullopt, 3600},
        {"p_\x1b]0;owned\x07\x1b[2J\\_A\np_FORGED_A", 0, 60, std::nullopt},
    };
    test::TempDir dir;
    for (const Pair& p : pairs) {
        RunFigures run = Figures(p.status, p.status == 0);
        run.link = p.link;
        run.endTime = kNow - p.successAge.value_or(60);
        run.expectedInterval = p.interval;
        CarriedOver previous;
        if (p.status != 0 && p.successAge) {
            previous.lastSuccess = kNow - *p.successAge;
        }
        test::WriteFile(dir / MetricsFileName("p" + std::to_string(&p - pairs)),
                        RenderMetrics(run, previous));
    }
    test::WriteFile(dir / "other.prom", Sample("brimlet_last_exit_status", "1"));
    test::WriteFile(dir / ".brimlet_p_TMP_A.prom.a1b2c3", Sample("brimlet_last_exit_status", "1"));

    bool anyBad = false;
    const std::string report = StatusReport(ReadStatusDir(dir.path()), kNow, anyBad);
    EXPECT_TRUE(anyBad);
    std::vector<std::string> lines;
    for (std::size_t pos = 0, end; (end = report.find('\n', pos)) != std::string::npos;
         pos = end + 1) {
        lines.push_back(report.substr(pos, end - pos));
    }
    ASSERT_EQ(lines.size(), 7u) << report;
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"p_FAIL_A", "1       10m          0        0            FAILING"},
        {"p_LATE_A", "0       4h 00m       3        1234         OVERDUE"},
        {"p_NEVER_A", "1       never        0        0            FAILING OVERDUE"},
        {"p_\\x1b]0;owned\\x07\\x1b[2J\\\\_A\\np_FORGED_A", "0       1m           3        1234"},
        {"p_OK_A", "0       1m           3        1234"},
        {"p_SLOW_A", "0       4h 00m       3        1234"},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string& line = lines[i + 1];
        EXPECT_EQ(line.substr(0, expected[i].first.size()), expected[i].first) << report;
        EXPECT_EQ(line.substr(line.size() - std::min(line.size(), expected[i].second.size())),
                  expected[i].second)
            << report;
    }
    EXPECT_EQ(report.find('\x1b'), std::string::npos) << report;
    bool healthy = true;
    StatusReport(ParsePairs(test::ReadFile(dir / MetricsFileName("p0"))), kNow, healthy);  // p_OK_A
    EXPECT_FALSE(healthy);
    EXPECT_THROW(ReadStatusDir(dir / "missing"), Failure);

    // Pairs taken away: left out, and counted; the rest keep their order.
    std::size_t leftOut = 0;
    const std::vector<PairStatus> linked = LinkedPairs(
        ReadStatusDir(dir.path()),
        [](const std::string& link) { return link != "p_FAIL_A" && link != "p_NEVER_A"; }, leftOut);
    EXPECT_EQ(leftOut, 2u);
    std::vector<std::string> kept;
    for (const PairStatus& p : linked) {
        kept.push_back(p.link);
    }
    EXPECT_EQ(kept, (std::vector<std::string>{"p_OK_A", "p_LATE_A", "p_SLOW_A",
                                              "p_\x1b]0;owned\x07\x1b[2J\\_A\np_FORGED_A"}));
}

}  // namespace
}  // namespace brimlet::metrics
