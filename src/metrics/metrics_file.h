#pragma once
// The metrics files' platform half: this run's file replaced (WriteMetricsFile's work) and a
// directory's files read back for --status (status.h's ReadStatusDir).
#include <cstddef>
#include <string>
#include <string_view>

#include "metrics/metrics.h"

namespace brimlet::metrics {

// We write a few hundred bytes; anything much larger is not ours.
inline constexpr std::size_t kMetricsFileMaxBytes = std::size_t{64} * 1024;

// WriteMetricsFile's work, as its contract says; throws Failure.
void ReplaceMetricsFile(const std::string& directory, const RunFigures& run);

// "brimlet_<link>.prom" with a link of one character or more: the files --status reads.
inline bool IsMetricsFileName(std::string_view name) {
    return name.substr(0, 8) == "brimlet_" && name.size() > 13 &&
           name.substr(name.size() - 5) == ".prom";
}

}  // namespace brimlet::metrics
