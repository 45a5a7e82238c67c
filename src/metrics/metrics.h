#pragma once
// The run's figures as a metrics file for a node exporter's textfile collector: one file per
// link, replaced whole at the end of every run.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/failure.h"

namespace brimlet::metrics {

// What one run did, in plain values; times in seconds since the epoch.
struct RunFigures {
    std::string link;  // the invoked name; also names the file
    std::string agent;
    std::string os;
    std::int64_t startTime = 0;
    std::int64_t endTime = 0;
    int exitStatus = 1;
    bool published = false;          // this run replaced the document
    std::int64_t publishedTime = 0;  // when it did; read only when `published`
    std::int64_t componentsPublished = 0;
    std::int64_t rowsLeftOut = 0;
    std::int64_t documentBytes = 0;
    std::int64_t errorEntries = 0;
    std::optional<std::int64_t> expectedInterval;  // seconds between runs, when the pair says
};

// Values a failing or non-publishing run keeps from the file the run before it wrote.
struct CarriedOver {
    std::optional<std::int64_t> lastSuccess;
    std::optional<std::int64_t> lastPublished;
};

// A label value escaped for the exposition format: backslash, double quote and line feed.
std::string EscapeLabelValue(std::string_view value);

// `{link="...",agent="...",os="..."}` of the figures, in UTF-8 (the names are the program's
// text, in the ANSI code page on Windows).
std::string LabelSet(const RunFigures& run);

// The two carried-over values for the run's labels in an earlier file's text; lines of other
// label sets, other metrics and values that are not whole numbers are ignored.
CarriedOver ReadCarriedOver(std::string_view text, const RunFigures& run);

// The expected interval as the settings give it: a whole number of seconds above 0, blanks
// around allowed; anything else is none.
std::optional<std::int64_t> ParseInterval(std::string_view text);

// The whole file: HELP and TYPE before each metric, one sample per metric. The last success is
// this run's end when its status is 0, else the carried-over one (left out while there is
// none); the last publication likewise with `published`.
std::string RenderMetrics(const RunFigures& run, const CarriedOver& previous);

// "brimlet_<link>.prom"
std::string MetricsFileName(std::string_view link);

// Reads the carried-over values from the directory's current file, then replaces the file with
// RenderMetrics' text: a temporary file in the same directory, synced, mode 0644 (on Windows
// the security the directory passes on), renamed over the name. Never follows a symlink or
// opens anything but a directory and regular files, so a FIFO or device placed there cannot
// block the run. Empty on success, else why not; never throws.
std::optional<Failure> WriteMetricsFile(const std::string& directory,
                                        const RunFigures& run) noexcept;

}  // namespace brimlet::metrics
