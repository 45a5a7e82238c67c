#pragma once
// `brimlet --status`: every pair at a glance, read back from the metrics files of its runs.
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brimlet::metrics {

// The exporter's textfile directory: the node exporter's on Debian, where the packaged unit
// writes; on Windows windows_exporter's default, beside its executable.
#ifdef _WIN32
inline constexpr std::string_view kDefaultStatusDir =
    "C:\\Program Files\\windows_exporter\\textfile_inputs";
#else
inline constexpr std::string_view kDefaultStatusDir = "/var/lib/prometheus/node-exporter";
#endif
// Expected seconds between runs for a pair that exports no brimlet_expected_interval_seconds:
// the packaged timer's hourly schedule.
inline constexpr std::int64_t kDefaultIntervalSeconds = 3600;
// A pair is overdue when its last success is older than this many expected intervals.
inline constexpr std::int64_t kOverdueIntervals = 3;  // as the overdue alert

// One pair as its metrics file describes it; a value the file lacks is empty.
struct PairStatus {
    std::string link;
    std::optional<std::int64_t> lastRunEnd;
    std::optional<std::int64_t> exitStatus;
    std::optional<std::int64_t> lastSuccess;
    std::optional<std::int64_t> components;
    std::optional<std::int64_t> documentBytes;
    std::optional<std::int64_t> expectedInterval;

    // The latest run did not end with status 0 (or the file does not say).
    bool Failing() const { return exitStatus.value_or(1) != 0; }
    // Never succeeded, or the last success is older than kOverdueIntervals intervals.
    bool Overdue(std::int64_t now) const;
};

// The pairs of one metrics file's text (UTF-8), one per `link` label (in the program's code
// page), in order of appearance. Lines that are comments, other metrics or not whole-number
// samples are ignored.
std::vector<PairStatus> ParsePairs(std::string_view text);

// "45s", "12m", "3h 05m", "2d 04h".
std::string AgeText(std::int64_t seconds);

// The report: a heading, then one line per pair, failing and overdue pairs first, each group
// in link order, each link as TerminalText shows it. `anyBad` tells whether any pair is failing or
// overdue.
std::string StatusReport(std::vector<PairStatus> pairs, std::int64_t now, bool& anyBad);

// The pairs for which `hasLink(link)` holds, in order; how many were left out in `leftOut`.
// --status leaves out the files of pairs taken away (their metrics may outlive them).
std::vector<PairStatus> LinkedPairs(std::vector<PairStatus> pairs,
                                    const std::function<bool(const std::string&)>& hasLink,
                                    std::size_t& leftOut);

// The pairs of every brimlet_*.prom file in `directory` (regular files only, never through a
// symlink or a FIFO). Throws Failure when the directory cannot be read.
std::vector<PairStatus> ReadStatusDir(const std::string& directory);

}  // namespace brimlet::metrics
